#pragma once

#include "FocusTracker.h"

#include <QCheckBox>

// Check box. OnClick runs whenever the checked state changes, by the user or by
// SetChecked from code; setting the state it already has runs nothing.
class VORWIDGETS_EXPORT TCheckBox : public QCheckBox, public FocusEvents
{
    Q_OBJECT

public:
    explicit TCheckBox(QWidget *parent = nullptr);
    explicit TCheckBox(const QString &caption, QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }
    bool Checked() const { return isChecked(); }
    void SetChecked(bool checked) { setChecked(checked); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    void SetFocus();

    TNotifyEvent OnClick;
};

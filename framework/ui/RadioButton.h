#pragma once

#include "FocusTracker.h"

#include <QRadioButton>

// Radio button. OnClick runs when the button becomes checked, by the user or by
// SetChecked(true) from code; never when it is already checked or is unchecked.
class VORWIDGETS_EXPORT TRadioButton : public QRadioButton, public FocusEvents
{
    Q_OBJECT

public:
    explicit TRadioButton(QWidget *parent = nullptr);
    explicit TRadioButton(const QString &caption, QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }
    bool Checked() const { return isChecked(); }
    void SetChecked(bool checked) { setChecked(checked); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    void SetFocus();

    TNotifyEvent OnClick;
};

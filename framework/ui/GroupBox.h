#pragma once

#include "FocusTracker.h"

#include <QGroupBox>

// Framed group with a caption; enter/exit events like a panel.
class VORWIDGETS_EXPORT TGroupBox : public QGroupBox, public FocusEvents
{
    Q_OBJECT

public:
    explicit TGroupBox(QWidget *parent = nullptr);
    explicit TGroupBox(const QString &caption, QWidget *parent = nullptr);

    QString Caption() const { return title(); }
    void SetCaption(const QString &caption) { setTitle(caption); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
};

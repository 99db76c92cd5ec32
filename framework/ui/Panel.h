#pragma once

#include "FocusTracker.h"

#include <QFrame>

// Container with enter/exit events: OnEnter when focus moves into the panel
// from a control outside it, OnExit when it moves out to a control outside it.
// An exception in OnExit refuses the move (FocusEvents). Children are placed
// by setGeometry unless a layout is set.
class VORWIDGETS_EXPORT TPanel : public QFrame, public FocusEvents
{
    Q_OBJECT

public:
    explicit TPanel(QWidget *parent = nullptr);

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption) { m_caption = caption; }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }

private:
    QString m_caption;
};

#pragma once

#include "Events.h"

#include <QAction>
#include <QKeySequence>

class QMenu;

// Menu item: caption with '&' accelerators, shortcut, enabled state, OnClick.
// Its shortcut works only while the focus is inside the widget it is attached
// to with AttachShortcutTo (the form): two MDI children may share Ctrl+L and
// only the active one gets it.
class VORWIDGETS_EXPORT TMenuItem : public QAction
{
    Q_OBJECT

public:
    explicit TMenuItem(QObject *parent = nullptr);
    TMenuItem(const QString &caption, QObject *parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    bool Visible() const { return isVisible(); }
    void SetVisible(bool visible) { setVisible(visible); }
    QString Hint() const { return statusTip(); }
    void SetHint(const QString &hint) { setStatusTip(hint); setToolTip(hint); }
    QKeySequence ShortCut() const { return shortcut(); }
    void SetShortCut(const QKeySequence &shortCut) { setShortcut(shortCut); }
    // Stored shortcut values: 0x4000 Ctrl, 0x2000 Shift, 0x8000 Alt + the key
    // code (Ctrl+L = 16460, Ctrl+P = 16464).
    void SetShortCut(int stored);
    void AttachShortcutTo(QWidget *scope);
    void Click();                    // runs OnClick when enabled

    TNotifyEvent OnClick;
};

// Key sequence of a stored shortcut value (see TMenuItem::SetShortCut(int)).
VORWIDGETS_EXPORT QKeySequence ShortCutFromInt(int stored);

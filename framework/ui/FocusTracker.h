#pragma once

#include "Events.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

class QWidget;

// Enter/exit events of a control, as the family knows them: they follow the
// form's active control, not the window system's focus. Moving between two
// controls of one form runs, in order, OnExit of every control/panel left
// (innermost first) and OnEnter of every one entered (outermost first). Focus
// going to another window (a message box, another MDI child) and coming back
// runs nothing.
// An exception in an exit handler refuses the move: focus stays where the
// handler's clean-up put it, or returns to the control left, and that return
// runs no OnEnter, and a mouse click that caused the refused move does not
// reach the control clicked.
class VORWIDGETS_EXPORT FocusEvents
{
public:
    FocusEvents();   // starts the tracker
    virtual ~FocusEvents();
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
};

// Watches QApplication::focusChanged and runs the handlers above. One per
// application; the controls start it on construction.
class VORWIDGETS_EXPORT FocusTracker final : public QObject
{
    Q_OBJECT

public:
    static FocusTracker *instance();

    // The control of the given form (or window) that last had the focus.
    QWidget *activeControlOf(QWidget *form) const;
    // True while enter/exit handlers are running.
    bool busy() const { return m_busy; }
    // The form's window is changing state (maximised, minimised, restored):
    // the focus moves Qt makes meanwhile run no handlers, and once the event
    // loop runs again the focus goes back to the form's active control.
    void holdFor(QWidget *form);
    bool holding() const { return !m_held.isEmpty(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FocusTracker();
    void onFocusChanged(QWidget *old, QWidget *now);
    void releaseHolds();
    void transition(QWidget *scope, QWidget *from, QWidget *to, int depth);

    QHash<QWidget *, QPointer<QWidget>> m_last;  // form/window -> last focused control
    QSet<QWidget *> m_held;                      // forms whose window is changing state
    bool m_busy = false;
    // A click whose focus move was refused must not act on the control
    // clicked (the family's controls ignore such a click).
    QPointer<QWidget> m_refusedTarget;
    bool m_swallowRelease = false;
};

// The form (TForm) or window a control belongs to, for the tracking above.
VORWIDGETS_EXPORT QWidget *focusScopeOf(QWidget *widget);

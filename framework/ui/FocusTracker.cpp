#include "FocusTracker.h"

#include "Form.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

FocusEvents::FocusEvents()
{
    FocusTracker::instance();
}

FocusEvents::~FocusEvents() = default;

QWidget *focusScopeOf(QWidget *widget)
{
    for (QWidget *w = widget; w; w = w->parentWidget()) {
        if (qobject_cast<TForm *>(w))
            return w;
        if (w->isWindow())
            return w;
    }
    return nullptr;
}

namespace {

// Controls with enter/exit handlers from widget up to (not including) scope.
QList<QWidget *> chainOf(QWidget *widget, QWidget *scope)
{
    QList<QWidget *> chain;
    for (QWidget *w = widget; w && w != scope; w = w->parentWidget())
        if (dynamic_cast<FocusEvents *>(w))
            chain.append(w);
    return chain;
}

bool inside(QWidget *widget, QWidget *scope)
{
    return widget && scope && (widget == scope || scope->isAncestorOf(widget));
}

QWidget *focusIn(QWidget *scope)
{
    QWidget *f = scope->window()->focusWidget();
    return inside(f, scope) ? f : nullptr;
}

} // namespace

FocusTracker *FocusTracker::instance()
{
    static QPointer<FocusTracker> tracker;
    if (!tracker)
        tracker = new FocusTracker();
    return tracker;
}

FocusTracker::FocusTracker()
    : QObject(qApp)
{
    connect(qApp, &QApplication::focusChanged, this, &FocusTracker::onFocusChanged);
    qApp->installEventFilter(this);
}

bool FocusTracker::eventFilter(QObject *watched, QEvent *event)
{
    // Qt gives the focus of a click before the press reaches any filter, so a
    // refusal made then is known here.
    // The user acts: a window change still settling is over before the
    // input is handled.
    if (!m_held.isEmpty()
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress))
        releaseHolds();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // A new click: the release of a swallowed press may never have come
        // (a message box up at the time takes it), so it must not eat this one's.
        if (watched->isWidgetType())
            m_swallowRelease = false;
        if (m_refusedTarget && watched->isWidgetType()) {
            auto *w = static_cast<QWidget *>(watched);
            if (w == m_refusedTarget || m_refusedTarget->isAncestorOf(w) || w->isAncestorOf(m_refusedTarget)) {
                m_refusedTarget = nullptr;
                m_swallowRelease = true;
                return true;
            }
        }
        break;
    case QEvent::MouseButtonRelease:
        if (m_swallowRelease && watched->isWidgetType()) {
            m_swallowRelease = false;
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

QWidget *FocusTracker::activeControlOf(QWidget *form) const
{
    return m_last.value(form);
}

void FocusTracker::onFocusChanged(QWidget *, QWidget *now)
{
    // Changes made by running handlers (clean-up focusing a control, message
    // boxes) are settled by the handler's caller, not here.
    if (m_busy || !now)
        return;
    QWidget *scope = focusScopeOf(now);
    if (!scope || m_held.contains(scope))
        return;
    if (!m_last.contains(scope))
        connect(scope, &QObject::destroyed, this, [this, scope] {
            m_last.remove(scope);
            m_held.remove(scope);
        });
    QWidget *prev = m_last.value(scope);
    if (prev == now)
        return;
    transition(scope, prev, now, 0);
}

void FocusTracker::holdFor(QWidget *form)
{
    if (!form || m_held.contains(form))
        return;
    m_held.insert(form);
    QTimer::singleShot(0, this, [this] { releaseHolds(); });
}

void FocusTracker::releaseHolds()
{
    // Still held (the change made no focus move of its own) or not: the
    // focus goes back to the control that had it.
    const QSet<QWidget *> held = std::exchange(m_held, {});
    for (QWidget *form : held) {
        if (!m_last.contains(form))
            continue; // never focused, or gone
        QWidget *control = m_last.value(form);
        QWidget *now = form->window()->focusWidget();
        if (control && control != now && control->isVisible() && control->isEnabled() && form->isActiveWindow()
            && !(now && control->isAncestorOf(now))) {
            m_held.insert(form);
            control->setFocus(Qt::OtherFocusReason);
            m_held.remove(form);
        }
    }
}

void FocusTracker::transition(QWidget *scope, QWidget *from, QWidget *to, int depth)
{
    QPointer<QWidget> guardScope = scope;
    QPointer<QWidget> guardFrom = from;
    QPointer<QWidget> guardTo = to;
    const QList<QWidget *> fromChain = inside(from, scope) ? chainOf(from, scope) : QList<QWidget *>();
    const QList<QWidget *> toChain = chainOf(to, scope);

    QList<QPointer<QWidget>> exits, enters;
    for (QWidget *w : fromChain)
        if (!toChain.contains(w))
            exits.append(w);                   // innermost first
    for (auto it = toChain.crbegin(); it != toChain.crend(); ++it)
        if (!fromChain.contains(*it))
            enters.append(*it);                // outermost first

    m_busy = true;
    bool refused = false;
    for (const QPointer<QWidget> &w : exits) {
        if (!w)
            continue;
        if (!fireNotify(dynamic_cast<FocusEvents *>(w.data())->OnExit, w)) {
            refused = true;
            break;
        }
    }
    if (!guardScope) {
        m_busy = false;
        return;
    }
    if (refused) {
        // The move is refused: focus stays where the handler's clean-up put
        // it, else goes back to the control left. No enter handler runs.
        QWidget *landing = focusIn(scope);
        if ((!landing || landing == guardTo) && guardFrom) {
            guardFrom->setFocus(Qt::OtherFocusReason);
            landing = guardFrom;
        }
        m_last[scope] = landing;
        m_busy = false;
        m_refusedTarget = guardTo.data();
        QTimer::singleShot(0, this, [this] { m_refusedTarget = nullptr; });
        return;
    }
    m_last[scope] = guardTo.data();
    for (const QPointer<QWidget> &w : enters)
        if (w)
            fireNotify(dynamic_cast<FocusEvents *>(w.data())->OnEnter, w);
    m_busy = false;
    if (!guardScope || !guardTo)
        return;
    // A handler may have moved the focus on: that is a move of its own.
    QWidget *actual = focusIn(scope);
    if (actual && actual != guardTo && depth < 4)
        transition(scope, guardTo, actual, depth + 1);
}

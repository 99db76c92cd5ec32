#include "Form.h"

#include "Application.h"
#include "FocusTracker.h"
#include "Guard.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QTimer>
#include <QWindowStateChangeEvent>

TForm::TForm(QWidget *parent)
    : QWidget(parent)
{
    FocusTracker::instance();
    setFont(FamilyFont());
}

QFont TForm::FamilyFont()
{
    // The family's forms are laid out, column widths included, for a narrow
    // sans-serif interface font of about 11 pixels; a wider desktop font cuts
    // titles and values. The first of these that is installed is taken.
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed")});
    font.setPixelSize(kFamilyFontPixels);
    return font;
}

TForm::~TForm()
{
    // A form deleted on its own leaves an empty sub-window behind: drop it.
    if (QPointer<QMdiSubWindow> sw = m_subWindow)
        QTimer::singleShot(0, sw.data(), [sw] {
            if (sw && !sw->widget())
                sw->deleteLater();
        });
    if (m_modalLoop)
        m_modalLoop->quit();
}

void TForm::SetFormStyle(TFormStyle style)
{
    m_formStyle = style;
}

void TForm::runFormCreate()
{
    if (m_created)
        return;
    m_created = true;
    FormCreate(this);
}

void TForm::FormCreate(QObject *) {}
void TForm::FormClose(QObject *, TCloseAction &) {}
void TForm::FormActivate(QObject *) {}
void TForm::FormShow(QObject *) {}

void TForm::ensureSubWindow()
{
    if (m_subWindow)
        return;
    QMdiArea *area = app()->MdiArea();
    if (!area)
        return;
    const QRect design = geometry();
    m_subWindow = area->addSubWindow(this);
    // Maximising, minimising and restoring move Qt's focus about inside the
    // frame; for the form's controls the focus stays where it was.
    m_subWindow->installEventFilter(this);
    // Closing hides or frees as FormClose decides; never Qt's own delete.
    m_subWindow->setAttribute(Qt::WA_DeleteOnClose, false);
    const int frame = m_subWindow->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, m_subWindow);
    const int title = m_subWindow->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, m_subWindow);
    m_subWindow->resize(design.width() + 2 * frame, design.height() + title + frame);
    m_subWindow->move(design.topLeft());
    connect(area, &QMdiArea::subWindowActivated, this, &TForm::onSubWindowActivated);
}

void TForm::Show()
{
    if (m_formStyle == fsMDIChild && app()->MdiArea()) {
        ensureSubWindow();
        const bool wasHidden = !m_subWindow->isVisible() || isHidden();
        // A closed (hidden) child can still be the area's active one: showing
        // it again then activates nothing, and the focus stays wherever hiding
        // handed it on. Showing a hidden form is an activation of it.
        bool activated = false;
        const QMetaObject::Connection watch = connect(
            m_subWindow->mdiArea(), &QMdiArea::subWindowActivated, this,
            [this, &activated](QMdiSubWindow *window) { activated = activated || window == m_subWindow; });
        QWidget::show();
        if (m_subWindow->isMinimized())
            m_subWindow->showNormal();
        m_subWindow->show();
        m_subWindow->mdiArea()->setActiveSubWindow(m_subWindow);
        disconnect(watch);
        if (wasHidden && !activated)
            runGuarded([this] { FormActivate(this); });
        return;
    }
    QWidget::show();
    raise();
    activateWindow();
}

int TForm::ShowModal()
{
    if (m_modalLoop)
        return mrNone;
    m_modalResult = mrNone;
    if (!isWindow())
        setParent(nullptr);
    if (!(windowFlags() & Qt::Dialog))
        setWindowFlags(windowFlags() | Qt::Dialog);
    setWindowModality(Qt::ApplicationModal);
    QWidget::show();
    raise();
    activateWindow();
    // The user works in a modal form with the normal cursor, whatever the
    // caller set around the show; the caller's cursor comes back afterwards.
    const int cursor = app()->screenCursor();
    app()->setScreenCursor(crDefault);
    QEventLoop loop;
    m_modalLoop = &loop;
    QPointer<TForm> self = this;
    loop.exec(QEventLoop::DialogExec);
    app()->setScreenCursor(cursor);
    if (!self)
        return mrCancel;
    m_modalLoop = nullptr;
    setWindowModality(Qt::NonModal);
    if (m_modalResult == mrNone)
        m_modalResult = mrCancel;
    return m_modalResult;
}

void TForm::SetModalResult(int result)
{
    m_modalResult = result;
    if (result != mrNone && m_modalLoop)
        Close();
}

void TForm::Close()
{
    applyClose();
}

bool TForm::applyClose()
{
    if (m_closing)
        return false;
    m_closing = true;
    TCloseAction action = caHide;
    QPointer<TForm> self = this;
    try {
        FormClose(this, action);
    } catch (...) {
        if (self)
            m_closing = false;
        throw;
    }
    if (!self)
        return false;
    m_closing = false;
    QWidget *frame = m_subWindow ? static_cast<QWidget *>(m_subWindow.data()) : this;
    switch (action) {
    case caNone:
        return false;
    case caMinimize:
        frame->showMinimized();
        return false;
    case caHide:
        frame->hide();
        break;
    case caFree:
        frame->hide();
        frame->deleteLater();
        break;
    }
    if (m_modalLoop) {
        if (m_modalResult == mrNone)
            m_modalResult = mrCancel;
        m_modalLoop->quit();
    }
    return true;
}

void TForm::closeEvent(QCloseEvent *event)
{
    // The window's close box: the same path as Close(), through the guard.
    // Qt never closes the form itself; applyClose hides or frees it.
    event->ignore();
    runGuarded([this] { applyClose(); });
}

void TForm::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_modalLoop && !event->spontaneous())
        m_modalLoop->quit();
}

bool TForm::Visible() const
{
    return m_subWindow ? m_subWindow->isVisible() && !isHidden() : isVisible();
}

void TForm::SetVisible(bool visible)
{
    if (visible) {
        Show();
        return;
    }
    if (m_subWindow)
        m_subWindow->hide();
    else
        hide();
}

TWindowState TForm::WindowState() const
{
    const QWidget *frame = m_subWindow ? static_cast<const QWidget *>(m_subWindow.data()) : this;
    const Qt::WindowStates state = frame->windowState();
    if (state & Qt::WindowMinimized)
        return wsMinimized;
    if (state & Qt::WindowMaximized)
        return wsMaximized;
    return wsNormal;
}

void TForm::SetWindowState(TWindowState state)
{
    QWidget *frame = m_subWindow ? static_cast<QWidget *>(m_subWindow.data()) : this;
    Qt::WindowStates flags = frame->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == wsMinimized)
        flags |= Qt::WindowMinimized;
    else if (state == wsMaximized)
        flags |= Qt::WindowMaximized;
    if (frame->isVisible()) {
        if (state == wsMinimized)
            frame->showMinimized();
        else if (state == wsMaximized)
            frame->showMaximized();
        else
            frame->showNormal();
    } else {
        frame->setWindowState(flags);
    }
}

QWidget *TForm::ActiveControl() const
{
    QWidget *tracked = FocusTracker::instance()->activeControlOf(const_cast<TForm *>(this));
    if (tracked && isAncestorOf(tracked))
        return tracked;
    QWidget *focus = window()->focusWidget();
    return focus && isAncestorOf(focus) ? focus : nullptr;
}

void TForm::SetActiveControl(QWidget *control)
{
    if (control)
        control->setFocus(Qt::OtherFocusReason);
}

void TForm::onSubWindowActivated(QMdiSubWindow *window)
{
    if (window && window == m_subWindow)
        runGuarded([this] { FormActivate(this); });
}

bool TForm::eventFilter(QObject *watched, QEvent *event)
{
    // Activation changes the frame's state too; only a change of size counts.
    constexpr Qt::WindowStates sized = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    if (watched == m_subWindow && event->type() == QEvent::WindowStateChange
        && ((static_cast<QWindowStateChangeEvent *>(event)->oldState() ^ m_subWindow->windowState()) & sized))
        FocusTracker::instance()->holdFor(this);
    return QWidget::eventFilter(watched, event);
}

void TForm::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isWindow() && isActiveWindow())
        runGuarded([this] { FormActivate(this); });
}

namespace {

// Shortcuts of a form's own menus work only while the focus is inside the
// form: two MDI children with the same shortcut never compete.
void scopeMenuShortcuts(TForm *form, const QList<QAction *> &actions)
{
    for (QAction *action : actions) {
        if (QMenu *menu = action->menu())
            scopeMenuShortcuts(form, menu->actions());
        if (action->shortcut().isEmpty())
            continue;
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        if (!form->actions().contains(action))
            form->addAction(action);
    }
}

} // namespace

void TForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    for (QMenuBar *bar : findChildren<QMenuBar *>())
        scopeMenuShortcuts(this, bar->actions());
    if (!event->spontaneous())
        runGuarded([this] { FormShow(this); });
}

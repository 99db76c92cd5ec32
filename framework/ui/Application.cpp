#include "Application.h"

#include "Form.h"
#include "Guard.h"
#include "Routines.h"
#include "ShowAvi.h"

#include <QApplication>
#include <QCursor>
#include <QMdiArea>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

QPointer<Application> &slot()
{
    static QPointer<Application> instance;
    return instance;
}

void destroyApplication()
{
    delete slot().data();
}

// Windows that take part in keyboard activation: main windows and dialogs,
// not popups, tool tips or the busy window.
bool takesActivation(const QWidget *w)
{
    if (!w->isWindow() || w->testAttribute(Qt::WA_ShowWithoutActivating)
        || w->testAttribute(Qt::WA_DontShowOnScreen))
        return false;
    const Qt::WindowType type = w->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}

} // namespace

// Without a window manager (a bare X server, a kiosk session) nobody hands the
// keyboard to a new window, and Qt then ignores Tab and never runs focus
// handlers. So a window that appears asks for activation itself, and when a
// dialog goes away the window under it takes the keyboard back. Under a
// window manager these requests agree with what it does anyway.
class ActivationKeeper final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if ((type != QEvent::Show && type != QEvent::Hide) || !watched->isWidgetType())
            return false;
        auto *w = static_cast<QWidget *>(watched);
        if (!takesActivation(w))
            return false;
        if (type == QEvent::Show) {
            QTimer::singleShot(0, w, [w] {
                if (w->isVisible() && !w->isActiveWindow())
                    w->activateWindow();
            });
        } else {
            QPointer<QWidget> under = w->parentWidget() ? w->parentWidget()->window() : nullptr;
            if (!under && Application::instance()->MainForm())
                under = Application::instance()->MainForm();
            if (under && under != w) {
                // The window under may itself be modal (a list picked from
                // inside a modal dialog): it takes the keyboard back as well.
                QTimer::singleShot(0, under, [under] {
                    QWidget *active = QApplication::activeWindow();
                    QWidget *modal = QApplication::activeModalWidget();
                    if (under && under->isVisible() && (!active || !active->isVisible())
                        && (!modal || modal == under))
                        under->activateWindow();
                });
            }
        }
        return false;
    }
};

Application *Application::instance()
{
    if (!slot()) {
        slot() = new Application();
        // Forms are widgets: they go while the QApplication still stands.
        qAddPostRoutine(destroyApplication);
    }
    return slot();
}

Application *app()
{
    return Application::instance();
}

Application::Application()
{
    // The data layer's own fallback is a plain function; anything else was
    // set on purpose (a test's recorder) and stays.
    if (errorPresenter().target<void (*)(const QString &)>())
        installMessageBoxPresenter();
    qApp->installEventFilter(new ActivationKeeper(this));
}

Application::~Application()
{
    for (const QPointer<TForm> &form : m_forms)
        delete form.data();
    m_forms.clear();
    if (m_cursor == crHourGlass)
        QApplication::restoreOverrideCursor();
}

QString Application::Title() const
{
    return QGuiApplication::applicationDisplayName();
}

void Application::SetTitle(const QString &title)
{
    QGuiApplication::setApplicationDisplayName(title);
}

void Application::SetMainForm(QMainWindow *mainForm)
{
    m_mainForm = mainForm;
}

QMdiArea *Application::MdiArea() const
{
    if (!m_mainForm)
        return nullptr;
    if (auto *area = qobject_cast<QMdiArea *>(m_mainForm->centralWidget()))
        return area;
    return m_mainForm->findChild<QMdiArea *>();
}

void Application::setScreenCursor(int cursor)
{
    const bool waitBefore = m_cursor == crHourGlass;
    const bool waitAfter = cursor == crHourGlass;
    m_cursor = cursor;
    if (waitAfter && !waitBefore)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else if (!waitAfter && waitBefore)
        QApplication::restoreOverrideCursor();
}

void Application::installMessageBoxPresenter()
{
    // Tests that drive the program from outside (X11 acceptance) cannot read a
    // message box: with VOR_ECHO_MESSAGES set, each one is also written to stderr.
    const bool echo = qEnvironmentVariableIsSet("VOR_ECHO_MESSAGES");
    setErrorPresenter([echo](const QString &text) {
        if (echo) {
            std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
            std::fflush(stderr);
        }
        QWidget *parent = QApplication::activeModalWidget();
        if (!parent)
            parent = QApplication::activeWindow();
        if (!parent && slot())
            parent = slot()->MainForm();
        // The busy window stays on top: it would cover the message.
        const ShowAviPause pause;
        QMessageBox::critical(parent, QGuiApplication::applicationDisplayName(), text);
    });
}

void Application::HandleException(std::exception_ptr error)
{
    handleException(error);
}

void Application::adopt(TForm *form)
{
    m_forms.push_back(form);
    try {
        form->runFormCreate();
    } catch (...) {
        std::erase(m_forms, QPointer<TForm>(form));
        delete form;
        throw;
    }
}

void restartWithHugePageHeap(char **argv)
{
#if defined(__linux__) && defined(__GLIBC__)
    // Set for the second start: what GLIBC_TUNABLES was before ("=" and the
    // value, or "-" when unset), so that children get it back.
    static const char kBefore[] = "VOR_GLIBC_TUNABLES_BEFORE";
    static const char kTunable[] = "glibc.malloc.hugetlb=1";
    if (const char *before = std::getenv(kBefore)) {
        if (before[0] == '=')
            setenv("GLIBC_TUNABLES", before + 1, 1);
        else
            unsetenv("GLIBC_TUNABLES");
        unsetenv(kBefore);
        return;
    }
    if (!argv || !argv[0])
        return;
    const char *tunablesNow = std::getenv("GLIBC_TUNABLES");
    if (tunablesNow && std::strstr(tunablesNow, "glibc.malloc.hugetlb"))
        return;
    const bool had = tunablesNow != nullptr;
    const std::string current = had ? tunablesNow : "";
    std::string mode;
    std::getline(std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"), mode);
    if (mode.find("[never]") != std::string::npos || mode.find('[') == std::string::npos)
        return;
    // By its own path, not /proc/self/exe: the process keeps its name.
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return;
    self[length] = '\0';
    const std::string saved = had ? "=" + current : std::string("-");
    const std::string tunables = current.empty() ? std::string(kTunable) : current + ':' + kTunable;
    setenv(kBefore, saved.c_str(), 1);
    setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
    execv(self, argv);
    // Not started again: carry on as started.
    unsetenv(kBefore);
    if (had)
        setenv("GLIBC_TUNABLES", current.c_str(), 1);
    else
        unsetenv("GLIBC_TUNABLES");
#else
    (void)argv;
#endif
}

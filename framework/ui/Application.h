#pragma once

#include "vorwidgets_export.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <exception>
#include <vector>

#include <QMainWindow>

class QMdiArea;
class TForm;

// Screen cursor values of the family.
enum TCursor : int { crDefault = 0, crHourGlass = -11 };

// The host's application object: owns the forms made by its factory, knows the
// main form (a QMainWindow with a QMdiArea, set by the host), the screen
// cursor, and installs the standard handling of escaping exceptions (a modal
// QMessageBox::critical titled with the application name; EAbort shows
// nothing) unless a presenter was set before it was made (a test's recorder).
// Needs a QApplication. One per process; instance() makes it on first use.
class VORWIDGETS_EXPORT Application final : public QObject
{
    Q_OBJECT

public:
    static Application *instance();
    ~Application() override;     // frees the forms it owns

    QString Title() const;                // QGuiApplication::applicationDisplayName
    void SetTitle(const QString &title);

    QMainWindow *MainForm() const { return m_mainForm; }
    void SetMainForm(QMainWindow *mainForm);
    QMdiArea *MdiArea() const;            // of the main form; nullptr without one

    // Form factory: constructs T (parentless), records it as owned, then runs
    // its FormCreate once, so overrides see the constructed derived object.
    // An exception from FormCreate frees the form and passes on to the caller.
    template<class T> T *CreateForm()
    {
        T *form = new T();
        adopt(form);
        return form;
    }
    const std::vector<QPointer<TForm>> &Forms() const { return m_forms; }

    // crHourGlass (-11) shows the wait cursor (QApplication::setOverrideCursor);
    // crDefault (0) restores the normal one. Setting the same value twice is harmless.
    void setScreenCursor(int cursor);
    int screenCursor() const { return m_cursor; }

    // Puts the message-box presenter back (tests swap in a recorder with setErrorPresenter).
    void installMessageBoxPresenter();

    // The standard handling, for code that caught an exception itself.
    void HandleException(std::exception_ptr error);

private:
    Application();
    void adopt(TForm *form);  // records ownership and runs FormCreate

    QPointer<QMainWindow> m_mainForm;
    std::vector<QPointer<TForm>> m_forms;
    int m_cursor = crDefault;
};

// Short form: app()->CreateForm<TfrmX>().
VORWIDGETS_EXPORT Application *app();

// A load brings packets of tens of megabytes into memory, and faulting them in
// page by page took about a third of the host's time. glibc backs its heap
// with transparent huge pages when told so at start (its tunables are read
// only then): unless the machine has them switched off or whoever started the
// process chose otherwise, the process starts itself once more with that
// tunable, in place (same pid, same arguments). Processes it starts later see
// the environment as it was. Call first thing in main(), before any thread.
VORWIDGETS_EXPORT void restartWithHugePageHeap(char **argv);

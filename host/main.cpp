#include "Application.h"
#include "DBGeral.h"
#include "Errors.h"
#include "Guard.h"
#include "HostOptions.h"
#include "HttpTransport.h"
#include "LoginDialog.h"
#include "MainWindow.h"
#include "NumberFormat.h"
#include "Routines.h"
#include "Services.h"
#include "ShowAvi.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>

namespace {
const QString kServerKey = QStringLiteral("server/address");

void printErr(const QString &text)
{
    std::fprintf(stderr, "vorhost: %s\n", qPrintable(text));
}

QString defaultLocalDb()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return QDir(dir).filePath(QStringLiteral("local.sqlite"));
}
} // namespace

int main(int argc, char *argv[])
{
    restartWithHugePageHeap(argv);
    QApplication qapp(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("VOR"));
    QApplication::setApplicationName(QStringLiteral("vorhost"));
    Application *application = Application::instance();
    application->SetTitle(QStringLiteral("VOR"));
    application->installMessageBoxPresenter();

    HostOptions options;
    QString error;
    QString help;
    if (!options.parse(QApplication::arguments(), &error, &help)) {
        if (error.isEmpty()) {
            std::fprintf(stdout, "%s", qPrintable(help));
            return 0;
        }
        printErr(error);
        return 2;
    }

    // Read once; programs this one starts need not see it.
    qunsetenv("VOR_PASSWORD");
    if (options.passwordOnCommandLine)
        printErr(QStringLiteral("aviso: --password deixa a senha visível a todos os usuários desta máquina "
                                "(lista de processos); use --password-file."));

    // Server: the one given (and remembered), else the last one used.
    QSettings settings;
    if (options.serverGiven) {
        settings.setValue(kServerKey, serverAddressText(options.serverHost, options.serverPort, options.serverTls));
    } else {
        QString host = QStringLiteral("127.0.0.1");
        int port = 8470;
        bool tls = false;
        parseServerAddress(settings.value(kServerKey).toString(), &host, &port, &tls);
        options.serverHost = host;
        options.serverPort = port;
        options.serverTls = tls;
    }
    if (!VorHttp::setSecureTransport(options.serverTls, options.caFile, &error)) {
        printErr(error);
        return 2;
    }
    setWebURL(options.serverHost);
    setWebPort(options.serverPort);
    const QString serverText = serverAddressText(options.serverHost, options.serverPort, options.serverTls);

    Workstation::setLocale(options.locale.isEmpty() ? QLocale::system() : QLocale(options.locale));

    const QString localDb = options.localDb.isEmpty() ? defaultLocalDb() : options.localDb;
    try {
        dtmDBGeral().open(localDb);
    } catch (const EVorError &e) {
        printErr(e.message());
        if (!options.operatorGiven)
            QMessageBox::critical(nullptr, application->Title(), e.message());
        return 1;
    }

    QString operatorName;
    if (options.operatorGiven) {
        if (!login(options.serverHost, options.serverPort, options.operatorCode, options.password, &error,
                   &operatorName)) {
            printErr(error);
            return 1;
        }
    } else {
        LoginDialog dialog(options.serverHost, options.serverPort, QString());
        if (dialog.exec() != QDialog::Accepted)
            return 0;
        operatorName = dialog.operatorName();
    }

    MainWindow window(QCoreApplication::applicationDirPath());
    application->SetMainForm(&window);
    window.showSession(Operador(), operatorName, serverText);
    window.show();
    window.activateWindow();

    const QString givenPassword = options.operatorGiven ? options.password : QString();
    setSessionRenewer([&window, givenPassword] {
        ShowAviPause busyWindowAside;
        return LoginDialog::renewSession(&window, WebURL(), WebPort(), Operador(), givenPassword);
    });

    if (!options.openScreen.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, &options] { window.openScreen(options.openScreen); });
    }
    // The picture of a headless run: the main window as it stands, then end.
    auto takeScreenshot = [&window, &options] {
        runGuarded([&] {
            const QString path = QFileInfo(options.screenshot).absoluteFilePath();
            QDir().mkpath(QFileInfo(path).absolutePath());
            if (window.grab().save(path))
                std::fprintf(stdout, "screenshot: %s\n", qPrintable(options.screenshot));
            else
                printErr(QStringLiteral("não foi possível gravar %1").arg(path));
            std::fflush(stdout);
            QApplication::quit();
        });
    };
    if (!options.screenshot.isEmpty()) {
        // Nobody sees message boxes in a headless run: repeat them on stderr.
        const ErrorPresenter shown = errorPresenter();
        setErrorPresenter([shown](const QString &text) {
            printErr(text);
            if (shown)
                shown(text);
        });
    }
    const bool typing = !options.openScreen.isEmpty() && !options.typeKeys.isEmpty();
    if (typing) {
        // Keys typed into the opened screen as a user would, one at a time into
        // whatever control has the focus then (demonstrations, pictures). A key
        // that loads data returns when the load is done; the picture follows.
        QTimer::singleShot(500, &window, [&options, takeScreenshot] {
            runGuarded([&] {
                for (const QChar c : options.typeKeys) {
                    QWidget *target = QApplication::focusWidget();
                    if (!target)
                        break;
                    const bool tab = c == QLatin1Char('\t');
                    const int key = tab ? int(Qt::Key_Tab) : int(c.toUpper().unicode());
                    const QString text = tab ? QString() : QString(c);
                    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
                    QApplication::sendEvent(target, &press);
                    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
                    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : target,
                                            &release);
                    QApplication::processEvents();
                }
            });
            if (!options.screenshot.isEmpty())
                QTimer::singleShot(1000, takeScreenshot);
        });
    } else if (!options.screenshot.isEmpty()) {
        // Let the screen open and the loop settle first.
        QTimer::singleShot(2000, &window, takeScreenshot);
    }

    const int rc = QApplication::exec();
    setSessionRenewer({});
    // Finalize before the forms and the application go.
    window.finalizePackages();
    logout();
    application->SetMainForm(nullptr);
    return rc;
}

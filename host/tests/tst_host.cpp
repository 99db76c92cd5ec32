#include "FakeHttpServer.h"
#include "HostOptions.h"
#include "LoginDialog.h"
#include "MainWindow.h"
#include "PackageLoader.h"
#include "Routines.h"
#include "Services.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

namespace {
// Puts a copy of a stand-in package where the host looks for libVOR01300.so.
QString install(const QTemporaryDir &dir, const QString &source, const QString &subDir)
{
    QDir(dir.path()).mkpath(QStringLiteral("bin"));
    QDir(dir.path()).mkpath(subDir);
    const QString target = QDir(dir.filePath(subDir)).filePath(QStringLiteral("libVOR01300.so"));
    QFile::remove(target);
    if (!QFile::copy(source, target))
        return QString();
    return target;
}

// A second handle on the package, straight from the system loader (QLibrary
// shares one handle per file): keeps it mapped and reads its call log.
struct PackageProbe
{
    explicit PackageProbe(const QString &path) : handle(dlopen(QFile::encodeName(path).constData(), RTLD_NOW)) {}
    ~PackageProbe()
    {
        if (handle)
            dlclose(handle);
    }
    QString log()
    {
        auto fn = handle ? reinterpret_cast<const char *(*)()>(dlsym(handle, "FakePackageLog")) : nullptr;
        return fn ? QString::fromLatin1(fn()) : QStringLiteral("<no log>");
    }
    void setThrow(bool on)
    {
        reinterpret_cast<void (*)(bool)>(dlsym(handle, "FakePackageThrow"))(on);
    }
    void *handle;
};
} // namespace

class tst_Host : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_shown.clear();
        setErrorPresenter([this](const QString &text) { m_shown.append(text); });
    }

    void entriesRunInOrder()
    {
        QTemporaryDir dir;
        const QString path = install(dir, FAKE_PACKAGE, "lib");
        QVERIFY(!path.isEmpty());
        PackageProbe probe(path);

        PackageLoader loader(path);
        QString error;
        QVERIFY2(loader.load(&error), qPrintable(error));
        QVERIFY(loader.load(&error));
        QCOMPARE(probe.log(), QString("I"));
        loader.openScreen();
        loader.openScreen();
        QCOMPARE(probe.log(), QString("IPP"));
        loader.unload();
        QVERIFY(!loader.isLoaded());
        QCOMPARE(probe.log(), QString("IPPF"));
        loader.finalize();
        QCOMPARE(probe.log(), QString("IPPF"));
    }

    void badPackagesAreRefusedWithAReason()
    {
        QTemporaryDir dir;
        const QString path = install(dir, FAKE_PACKAGE_NO_INIPROC, "lib");
        PackageProbe probe(path);
        PackageLoader lacking(path);
        QString error;
        QVERIFY(!lacking.load(&error));
        QVERIFY2(error.contains("IniProc") && error.contains("libVOR01300.so"), qPrintable(error));
        QVERIFY(!lacking.isLoaded());
        QCOMPARE(probe.log(), QString()); // Initialize never ran
        QVERIFY_THROWS_EXCEPTION(std::exception, lacking.openScreen());

        PackageLoader missing(dir.filePath("lib/libNAOEXISTE.so"));
        QVERIFY(!missing.load(&error));
        QVERIFY2(error.contains("não foi encontrado"), qPrintable(error));

        QFile junk(dir.filePath("lib/libLIXO.so"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a library");
        junk.close();
        PackageLoader broken(junk.fileName());
        QVERIFY(!broken.load(&error));
        QVERIFY2(error.startsWith("Não foi possível carregar o pacote libLIXO.so"), qPrintable(error));
    }

    void locatePrefersTheLibFolder()
    {
        QTemporaryDir dir;
        const QString bin = dir.filePath("bin");
        const QString inBin = install(dir, FAKE_PACKAGE, "bin");
        QCOMPARE(PackageLoader::locate(bin, "libVOR01300.so"), inBin);
        const QString inLib = install(dir, FAKE_PACKAGE, "lib");
        QCOMPARE(PackageLoader::locate(bin, "libVOR01300.so"), inLib);
    }

    void menuOpensTheScreenThroughThePackage()
    {
        QTemporaryDir dir;
        const QString path = install(dir, FAKE_PACKAGE, "lib");
        PackageProbe probe(path);
        {
            MainWindow window(dir.filePath("bin"));
            QAction *action = window.screenAction("VOR01300");
            QVERIFY(action);
            QCOMPARE(action->text(), QString("Aprovação de Atividades do Projeto"));
            action->trigger();
            action->trigger();
            QCOMPARE(probe.log(), QString("IPP"));
            QVERIFY(m_shown.isEmpty());

            // An exception from the package is shown once; the host goes on.
            probe.setThrow(true);
            QVERIFY(!window.openScreen("VOR01300"));
            QCOMPARE(m_shown, QStringList{"Falha ao criar a tela."});
            probe.setThrow(false);
            QVERIFY(window.openScreen("vor01300"));

            QVERIFY(!window.openScreen("VOR99999"));
            QCOMPARE(m_shown.size(), 2);
            window.finalizePackages();
            QCOMPARE(probe.log(), QString("IPPPPF"));
        }
        QCOMPARE(probe.log(), QString("IPPPPF")); // no second Finalize at destruction
    }

    void menuWithABadPackageShowsAMessage()
    {
        QTemporaryDir dir;
        install(dir, FAKE_PACKAGE_NO_INIPROC, "lib");
        MainWindow window(dir.filePath("bin"));
        window.screenAction("VOR01300")->trigger();
        QCOMPARE(m_shown.size(), 1);
        QVERIFY(m_shown.first().contains("IniProc"));
        QVERIFY(!window.package("VOR01300")->isLoaded());
        window.screenAction("VOR01300")->trigger();
        QCOMPARE(m_shown.size(), 2);
    }

    void loginDialogStaysOpenUntilTheServerAccepts()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            const QJsonObject body = QJsonDocument::fromJson(r.body).object();
            if (body.value("operator").toString() == "ANA" && body.value("password").toString() == "ana123")
                return FakeHttpServer::Response{200, R"({"token":"T9","operator":"ANA","name":"Ana Lima"})"};
            return FakeHttpServer::Response{401, R"({"error":"x"})"};
        });
        setOperador(QString());
        LoginDialog dialog("127.0.0.1", server.serverPort(), QString());
        dialog.show();
        dialog.operatorEdit()->setText("ANA");
        dialog.passwordEdit()->setText("errada");
        QTest::keyClick(dialog.passwordEdit(), Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.errorLabel()->isVisible());
        QCOMPARE(dialog.errorLabel()->text(), QString("Operador ou senha inválidos."));
        QCOMPARE(Operador(), QString());

        dialog.passwordEdit()->setText("ana123");
        QTest::keyClick(dialog.passwordEdit(), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(Operador(), QString("ANA"));
        QCOMPARE(sessionToken(), QString("T9"));
        QCOMPARE(dialog.operatorName(), QString("Ana Lima"));
        QCOMPARE(server.requests.size(), 2);
    }

    void sessionRenewedSilentlyOrThroughTheDialog()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            const QJsonObject body = QJsonDocument::fromJson(r.body).object();
            if (body.value("operator").toString() == "ANA" && body.value("password").toString() == "ana123")
                return FakeHttpServer::Response{200, R"({"token":"T10","operator":"ANA","name":"Ana Lima"})"};
            return FakeHttpServer::Response{401, R"({"error":"x"})"};
        });
        // Password known from the command line: no dialog at all.
        setSessionToken("old");
        QVERIFY(LoginDialog::renewSession(nullptr, "127.0.0.1", server.serverPort(), "ANA", "ana123"));
        QCOMPARE(sessionToken(), QString("T10"));
        QCOMPARE(server.requests.size(), 1);

        // Otherwise the dialog asks, the operator fixed, until a login succeeds.
        auto answer = [](const QString &password, bool *operatorFixed, bool *wide) {
            QTimer::singleShot(0, [=] {
                auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget());
                if (!dialog) {
                    QTimer::singleShot(20, [] {
                        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                            d->reject();
                    });
                    return;
                }
                *operatorFixed = dialog->operatorEdit()->isReadOnly() && dialog->operatorEdit()->text() == "ANA";
                *wide = dialog->width() >= dialog->fontMetrics().horizontalAdvance(dialog->windowTitle()) + 100;
                if (password.isEmpty()) {
                    dialog->reject();
                    return;
                }
                dialog->passwordEdit()->setText(password);
                QTest::keyClick(dialog->passwordEdit(), Qt::Key_Return);
            });
        };
        bool operatorFixed = false;
        bool wide = false;
        setSessionToken("old");
        QTimer poll; // the dialog shows once exec() runs
        poll.setInterval(10);
        QString nextPassword = "ana123";
        connect(&poll, &QTimer::timeout, this, [&] {
            if (qobject_cast<LoginDialog *>(QApplication::activeModalWidget())) {
                poll.stop();
                answer(nextPassword, &operatorFixed, &wide);
            }
        });
        poll.start();
        QVERIFY(LoginDialog::renewSession(nullptr, "127.0.0.1", server.serverPort(), "ANA", "errada"));
        QVERIFY(operatorFixed);
        QVERIFY(wide);
        QCOMPARE(sessionToken(), QString("T10"));
        QCOMPARE(Operador(), QString("ANA"));

        // Cancelled: no session, the call will fail as the server said.
        setSessionToken("old");
        nextPassword.clear();
        poll.start();
        QVERIFY(!LoginDialog::renewSession(nullptr, "127.0.0.1", server.serverPort(), "ANA", QString()));
        QCOMPARE(sessionToken(), QString("old"));
    }

    void serverAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("ipv4") << "127.0.0.1:8470" << true << "127.0.0.1" << 8470;
        QTest::newRow("name") << "appserver:80" << true << "appserver" << 80;
        QTest::newRow("ipv6") << "[::1]:9000" << true << "::1" << 9000;
        QTest::newRow("no port") << "127.0.0.1" << false << "" << 0;
        QTest::newRow("port 0") << "h:0" << false << "" << 0;
        QTest::newRow("too big") << "h:70000" << false << "" << 0;
        QTest::newRow("bare ipv6") << "::1:80" << false << "" << 0;
    }

    void serverAddresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QString host;
        int port = 0;
        QCOMPARE(parseServerAddress(text, &host, &port), ok);
        if (ok) {
            QTEST(host, "host");
            QTEST(port, "port");
        }
    }

    void commandLine()
    {
        HostOptions options;
        QString error;
        QVERIFY(options.parse({"vorhost", "--server", "10.0.0.5:8471", "--operator", "ANA", "--password", "x",
                               "--local-db", "/tmp/l.sqlite", "--locale", "pt_BR", "--open", "VOR01300",
                               "--screenshot", "/tmp/s.png"},
                              &error));
        QCOMPARE(options.serverHost, QString("10.0.0.5"));
        QCOMPARE(options.serverPort, 8471);
        QVERIFY(options.operatorGiven);
        QCOMPARE(options.openScreen, QString("VOR01300"));
        HostOptions bad;
        QVERIFY(!bad.parse({"vorhost", "--server", "nowhere"}, &error));
        QVERIFY(error.contains("nowhere"));
    }

    void passwordOffTheCommandLine()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("senha");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("s3gr3do\nignored\n");
        f.close();
        QString error;

        // A file others may read is refused, naming the fix.
        QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        HostOptions open;
        QVERIFY(!open.parse({"vorhost", "--operator", "ANA", "--password-file", file}, &error));
        QVERIFY2(error.contains("chmod 600"), qPrintable(error));

        QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        HostOptions fromFile;
        QVERIFY2(fromFile.parse({"vorhost", "--operator", "ANA", "--password-file", file}, &error), qPrintable(error));
        QCOMPARE(fromFile.password, QString("s3gr3do"));

        HostOptions missing;
        QVERIFY(!missing.parse({"vorhost", "--operator", "ANA", "--password-file", dir.filePath("none")}, &error));
        HostOptions noOperator;
        QVERIFY(!noOperator.parse({"vorhost", "--password-file", file}, &error));
        QVERIFY(error.contains("--operator"));

        // The environment, when nothing else gives the password.
        qputenv("VOR_PASSWORD", "doambiente");
        HostOptions fromEnvironment;
        QVERIFY(fromEnvironment.parse({"vorhost", "--operator", "ANA"}, &error));
        QCOMPARE(fromEnvironment.password, QString("doambiente"));
        HostOptions fileFirst;
        QVERIFY(fileFirst.parse({"vorhost", "--operator", "ANA", "--password-file", file}, &error));
        QCOMPARE(fileFirst.password, QString("s3gr3do"));
        HostOptions dialog;
        QVERIFY(dialog.parse({"vorhost"}, &error));
        QVERIFY(dialog.password.isEmpty());
        qunsetenv("VOR_PASSWORD");
    }

    void secureServerAddress()
    {
        QString host;
        int port = 0;
        bool tls = false;
        QVERIFY(parseServerAddress("https://srv.example:8443", &host, &port, &tls));
        QCOMPARE(host, QString("srv.example"));
        QCOMPARE(port, 8443);
        QVERIFY(tls);
        QVERIFY(parseServerAddress("http://10.0.0.5:8470/", &host, &port, &tls));
        QVERIFY(!tls);
        QCOMPARE(serverAddressText("srv.example", 8443, true), QString("https://srv.example:8443"));
        QCOMPARE(serverAddressText("::1", 8470, false), QString("[::1]:8470"));
        QVERIFY(parseServerAddress(serverAddressText("::1", 8470, true), &host, &port, &tls));
        QCOMPARE(host, QString("::1"));
        QVERIFY(tls);

        HostOptions options;
        QString error;
        QVERIFY(options.parse({"vorhost", "--server", "https://127.0.0.1:9443", "--ca-file", "/tmp/ca.pem"}, &error));
        QVERIFY(options.serverTls);
        QCOMPARE(options.caFile, QString("/tmp/ca.pem"));
    }

private:
    QStringList m_shown;
};

QTEST_MAIN(tst_Host)
#include "tst_host.moc"

// The program itself against the real application server: log in from the
// command line, show the main window, take the headless picture and end.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "TestCertificate.h"

class tst_Vorhost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFile::exists(VOR_SERVER_BIN))
            QSKIP("vor01300-server is not built in this tree");
        QVERIFY(m_dir.isValid());
        m_server.setProgram(VOR_SERVER_BIN);
        m_server.setArguments({"--database", "sqlite:" + m_dir.filePath("demo.sqlite"), "--demo", "--listen",
                               "127.0.0.1:0"});
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.start();
        QVERIFY(m_server.waitForStarted(10000));
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (m_address.isEmpty() && clock.elapsed() < 20000 && m_server.state() == QProcess::Running) {
            m_server.waitForReadyRead(500);
            out += m_server.readAllStandardOutput();
            const auto match = QRegularExpression("listening on (\\S+)").match(QString::fromUtf8(out));
            if (match.hasMatch())
                m_address = match.captured(1);
        }
        QVERIFY2(!m_address.isEmpty(), out.constData());
    }

    void cleanupTestCase()
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            QVERIFY(m_server.waitForFinished(10000));
        }
    }

    void logsInAndShowsTheMainWindow()
    {
        const QString shot = m_dir.filePath("shot.png");
        QProcess host;
        host.setProcessEnvironment(environment());
        host.start(VORHOST_BIN, {"--server", m_address, "--operator", "ANA", "--password", "ana123", "--local-db",
                                 m_dir.filePath("local.sqlite"), "--locale", "pt_BR", "--screenshot", shot});
        QVERIFY(host.waitForFinished(60000));
        const QString out = QString::fromUtf8(host.readAllStandardOutput());
        const QString err = QString::fromUtf8(host.readAllStandardError());
        QVERIFY2(host.exitCode() == 0, qPrintable(out + err));
        QVERIFY(out.contains("screenshot: " + shot));
        // --password is for tests: it works, and says what it exposes.
        QVERIFY2(err.contains("aviso: --password"), qPrintable(err));
        QImage image(shot);
        QVERIFY(!image.isNull());
        QVERIFY(image.width() > 400);
        QVERIFY(QFile::exists(m_dir.filePath("local.sqlite")));
    }

    void opensTheScreenPackage()
    {
        const QString package = QFileInfo(VORHOST_BIN).absolutePath() + "/../lib/libVOR01300.so";
        if (!QFile::exists(package))
            QSKIP("the screen package is not built in this tree");
        const QString shot = m_dir.filePath("screen.png");
        // The password as a user gives it: a file only its owner reads.
        QFile secret(m_dir.filePath("password"));
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        secret.write("ana123\n");
        secret.close();
        QProcess host;
        host.setProcessEnvironment(environment());
        host.start(VORHOST_BIN, {"--server", m_address, "--operator", "ANA", "--password-file", secret.fileName(),
                                 "--local-db", m_dir.filePath("local.sqlite"), "--open", "VOR01300", "--screenshot",
                                 shot});
        QVERIFY(host.waitForFinished(60000));
        const QString err = QString::fromUtf8(host.readAllStandardError());
        QCOMPARE(host.exitCode(), 0);
        // Any message the host showed is repeated on stderr as "vorhost: ...".
        QVERIFY2(!err.contains("vorhost:"), qPrintable(err));
        QVERIFY(QString::fromUtf8(host.readAllStandardOutput()).contains("screenshot: " + shot));
    }

    void aRefusedLoginEndsWithTheReason()
    {
        QProcess host;
        host.setProcessEnvironment(environment());
        host.start(VORHOST_BIN, {"--server", m_address, "--operator", "ANA", "--password", "errada", "--local-db",
                                 m_dir.filePath("local.sqlite")});
        QVERIFY(host.waitForFinished(60000));
        QCOMPARE(host.exitCode(), 1);
        QVERIFY(QString::fromUtf8(host.readAllStandardError()).contains("Operador ou senha inválidos."));
    }

    // Over HTTPS with a certificate made here, the password from the
    // environment: trusted through --ca-file it logs in; without it the
    // login stops with the reason.
    void httpsWithTheServersAuthority()
    {
        const QString cert = m_dir.filePath("cert.pem"), key = m_dir.filePath("key.pem");
        QVERIFY(makeTestCertificate(cert, key));
        QProcess server;
        server.start(VOR_SERVER_BIN, {"--database", "sqlite:" + m_dir.filePath("tls.sqlite"), "--demo", "--listen",
                                      "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key});
        QVERIFY(server.waitForStarted(10000));
        QString address;
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (address.isEmpty() && clock.elapsed() < 20000 && server.state() == QProcess::Running) {
            server.waitForReadyRead(500);
            out += server.readAllStandardOutput();
            const auto match = QRegularExpression("listening on (\\S+)").match(QString::fromUtf8(out));
            if (match.hasMatch())
                address = match.captured(1);
        }
        QVERIFY2(!address.isEmpty(), out.constData());

        QProcessEnvironment env = environment();
        env.insert("VOR_PASSWORD", "ana123");
        const QString shot = m_dir.filePath("tls.png");
        QProcess trusting;
        trusting.setProcessEnvironment(env);
        trusting.start(VORHOST_BIN, {"--server", "https://" + address, "--ca-file", cert, "--operator", "ANA",
                                     "--local-db", m_dir.filePath("local.sqlite"), "--screenshot", shot});
        QVERIFY(trusting.waitForFinished(60000));
        QVERIFY2(trusting.exitCode() == 0, trusting.readAllStandardError().constData());
        QVERIFY(QString::fromUtf8(trusting.readAllStandardOutput()).contains("screenshot: " + shot));

        QProcess strict;
        strict.setProcessEnvironment(env);
        strict.start(VORHOST_BIN, {"--server", "https://" + address, "--operator", "ANA", "--local-db",
                                   m_dir.filePath("local.sqlite")});
        QVERIFY(strict.waitForFinished(60000));
        QCOMPARE(strict.exitCode(), 1);
        const QString err = QString::fromUtf8(strict.readAllStandardError());
        QVERIFY2(err.contains("não é confiável") && err.contains("--ca-file"), qPrintable(err));

        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }

private:
    QProcessEnvironment environment() const
    {
        // Keep the remembered server and data folder inside the test's directory.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_address;
};

QTEST_GUILESS_MAIN(tst_Vorhost)
#include "tst_vorhost.moc"

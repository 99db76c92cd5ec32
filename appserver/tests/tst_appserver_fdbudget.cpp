// The connection cap against the process's file-descriptor limit: room is
// kept for the workers' database connections and the server's own files, and
// a server started under a low limit lowers its cap, says so, and serves.
#include "FdBudget.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

class TestFdBudget final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void capFitsTheLimit()
    {
        const int reserve = FdBudget::kFixedReserve + FdBudget::kPerWorker * (16 + 1);
        // Room enough: the cap asked for stands.
        QCOMPARE(FdBudget::connectionCap(2048, 65536, 16, 1), 2048);
        QCOMPARE(FdBudget::connectionCap(2048, 2048 + reserve, 16, 1), 2048);
        // The systemd default of 1,024: what is left after the reserve.
        QCOMPARE(FdBudget::connectionCap(2048, 1024, 16, 1), 1024 - reserve);
        QCOMPARE(FdBudget::connectionCap(2048, 2047 + reserve, 16, 1), 2047);
        // Nothing left: one connection still, never zero or less.
        QCOMPARE(FdBudget::connectionCap(2048, 10, 16, 1), 1);
        QCOMPARE(FdBudget::connectionCap(2048, 0, 16, 1), 1);
        // No limit at all.
        QCOMPARE(FdBudget::connectionCap(2048, UINT64_MAX, 16, 1), 2048);
    }

    void serverUnderALowLimitLowersItsCap()
    {
        QTemporaryDir dir;
        QProcess server;
        server.setChildProcessModifier([] {
            const rlimit low{300, 300};
            ::setrlimit(RLIMIT_NOFILE, &low);
        });
        server.start(VOR_SERVER_BIN, {"--database", "sqlite:" + dir.filePath("l.sqlite"), "--demo", "--listen",
                                      "127.0.0.1:0", "--threads", "4"});
        QVERIFY(server.waitForStarted());
        QByteArray out, err;
        QTRY_VERIFY_WITH_TIMEOUT((out += server.readAllStandardOutput()).contains('\n'), 30000);
        err += server.readAllStandardError();
        const int expected = FdBudget::connectionCap(2048, 300, 4, 1);
        const QByteArray said = "at most " + QByteArray::number(expected) + " connections";
        QVERIFY2(err.contains(said), err.constData());
        const int port = out.mid(out.lastIndexOf(':') + 1).trimmed().toInt();
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        QVERIFY(socket.waitForReadyRead(10000));
        QVERIFY(socket.readAll().startsWith("HTTP/1.1"));
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }
};

QTEST_MAIN(TestFdBudget)
#include "tst_appserver_fdbudget.moc"

#include "ServerOptions.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <functional>

namespace {

struct Numeric
{
    const char *name;
    int min, max;
    int HttpLimits::*field;
};

const Numeric kNumbers[] = {
    {"--threads", 1, 256, &HttpLimits::workers},
    {"--login-threads", 1, 256, &HttpLimits::loginWorkers},
    {"--io-threads", 0, 64, &HttpLimits::ioThreads},
    {"--max-queued", 1, 100000, &HttpLimits::maxQueued},
    {"--max-connections", 1, 100000, &HttpLimits::maxConnections},
    {"--max-per-address", 1, 100000, &HttpLimits::maxPerAddress},
    {"--backlog", 16, 65535, &HttpLimits::backlog},
    {"--max-head-bytes", 1024, 1048576, &HttpLimits::maxHeadBytes},
    {"--head-timeout", 1, 3600, &HttpLimits::headTimeoutSec},
    {"--min-rate", 1, 1 << 30, &HttpLimits::minBytesPerSec},
    {"--rate-window", 1, 3600, &HttpLimits::rateWindowSec},
    {"--idle-timeout", 1, 3600, &HttpLimits::idleTimeoutSec},
    {"--max-requests-per-connection", 1, 1000000, &HttpLimits::maxRequestsPerConnection},
    {"--body-memory-mib", 16, 65536, &HttpLimits::bodyMemoryMiB},
    {"--reply-memory-mib", 16, 65536, &HttpLimits::replyMemoryMiB},
    {"--answer-cache-mib", 0, 65536, &HttpLimits::answerCacheMiB},
};

struct Case
{
    QStringList args;
    std::function<QVariant(const ServerOptions &)> read;
    QVariant expected;
};

QVariant listenOf(const ServerOptions &o)
{
    return QStringList{o.listenHost, QString::number(o.listenPort)};
}

const Case kValues[] = {
    {{"--database", "postgresql://vor@db:5433/vor?schema=s1"}, [](auto &o) { return QVariant(o.database); },
     "postgresql://vor@db:5433/vor?schema=s1"},
    {{"--listen", "0.0.0.0:0"}, listenOf, QStringList{"0.0.0.0", "0"}},
    {{"--listen", "[::1]:65535"}, listenOf, QStringList{"::1", "65535"}},
    {{"--import", "/tmp/f.json"}, [](auto &o) { return QVariant(o.importFile); }, "/tmp/f.json"},
    {{"--demo"}, [](auto &o) { return QVariant(o.demo); }, true},
    {{"--tls-cert", "c.pem", "--tls-key", "k.pem"},
     [](auto &o) { return QVariant(QStringList{o.http.tlsCert, o.http.tlsKey}); }, QStringList{"c.pem", "k.pem"}},
    {{"--session-idle-hours", "0.5"}, [](auto &o) { return QVariant(o.sessionIdleHours); }, 0.5},
    {{"--session-lifetime-hours", "8760"}, [](auto &o) { return QVariant(o.sessionLifetimeHours); }, 8760.0},
    {{"--inject-faults"}, [](auto &o) { return QVariant(o.http.injectFaults); }, true},
    {{"--no-health", "--no-metrics"}, [](auto &o) { return QVariant(o.http.noHealth && o.http.noMetrics); }, true},
    {{"--admin-listen", "[::1]:9100"},
     [](auto &o) { return QVariant(QStringList{o.http.adminHost, QString::number(o.http.adminPort)}); },
     QStringList{"::1", "9100"}},
    {{"--trusted-proxy", "127.0.0.1,10.0.0.2"}, [](auto &o) { return QVariant(o.http.trustedProxies); },
     "127.0.0.1,10.0.0.2"},
    {{"--help"}, [](auto &o) { return QVariant(o.help); }, true},
    {{"-h", "--threads", "0"}, [](auto &o) { return QVariant(o.help); }, true}, // nothing after it is judged
};

bool parse(ServerOptions *o, const QStringList &args, QString *error, QString *help = nullptr)
{
    return o->parse(QStringList{"vor01300-server"} + args, error, help);
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultsAndUsage()
    {
        ServerOptions o;
        QString error, usage;
        QVERIFY2(parse(&o, {"--database", "sqlite:/tmp/x.sqlite"}, &error, &usage), qPrintable(error));
        QCOMPARE(listenOf(o), QVariant(QStringList{"127.0.0.1", "8470"}));
        QCOMPARE(o.sessionIdleHours, 12.0);
        QVERIFY(!o.demo && !o.help && !o.http.injectFaults);
        for (const Numeric &n : kNumbers)
            QCOMPARE(o.http.*n.field, HttpLimits{}.*n.field);

        // The usage names exactly the options tested here.
        QSet<QString> listed, tested;
        const QRegularExpression name(QStringLiteral("(?<![\\w-])--[a-z-]+"));
        for (const auto &m : name.globalMatch(usage))
            listed.insert(m.captured());
        for (const Numeric &n : kNumbers)
            tested.insert(QString::fromLatin1(n.name));
        for (const Case &c : kValues)
            for (const QString &a : c.args)
                if (a.startsWith(QLatin1String("--")))
                    tested.insert(a);
        QCOMPARE(listed, tested);

        ServerOptions help;
        QVERIFY(parse(&help, {"--help"}, &error)); // no --database needed for it
        QVERIFY(help.help);
    }

    void numbers_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kNumbers)); ++i)
            QTest::newRow(kNumbers[i].name) << i;
    }

    void numbers()
    {
        QFETCH(int, index);
        const Numeric &n = kNumbers[index];
        const QString name = QString::fromLatin1(n.name);
        QString error;
        for (const int v : {n.min, n.max}) {
            ServerOptions o;
            QVERIFY2(parse(&o, {"--database", "sqlite:x", name, QString::number(v)}, &error), qPrintable(error));
            QCOMPARE(o.http.*n.field, v);
        }
        for (const qint64 v : {qint64(n.min) - 1, qint64(n.max) + 1}) {
            ServerOptions o;
            QVERIFY(!parse(&o, {"--database", "sqlite:x", name, QString::number(v)}, &error));
            QCOMPARE(error, QStringLiteral("%1 takes a number from %2 to %3").arg(name).arg(n.min).arg(n.max));
        }
    }

    void values_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kValues)); ++i)
            QTest::newRow(qPrintable(kValues[i].args.join(' '))) << i;
    }

    void values()
    {
        QFETCH(int, index);
        const Case &c = kValues[index];
        ServerOptions o;
        QString error;
        QVERIFY2(parse(&o, QStringList{"--database", "sqlite:x"} + c.args, &error), qPrintable(error));
        QCOMPARE(c.read(o), c.expected);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        const QString listen = QStringLiteral("--listen takes HOST:PORT");
        const QString hours = QStringLiteral("--session-idle-hours takes a number of hours above 0");
        QTest::newRow("unknown") << QStringList{"--bogus"} << "unknown option --bogus";
        QTest::newRow("stray word") << QStringList{"sqlite:x"} << "unknown option sqlite:x";
        QTest::newRow("no value") << QStringList{"--database", "sqlite:x", "--import"} << "--import needs a value";
        QTest::newRow("not a number") << QStringList{"--threads", "4x"} << "--threads takes a number from 1 to 256";
        QTest::newRow("cert alone") << QStringList{"--database", "sqlite:x", "--tls-cert", "c"}
                                    << "--tls-cert and --tls-key go together";
        QTest::newRow("key alone") << QStringList{"--database", "sqlite:x", "--tls-key", "k"}
                                   << "--tls-cert and --tls-key go together";
        for (const char *bad : {"nowhere", ":8470", "host:", "::1:8470", "[::1]", "[]:80", "h:65536", "h:-1"})
            QTest::addRow("listen %s", bad) << QStringList{"--listen", bad} << listen;
        for (const char *bad : {"0", "8761", "nan", "x"})
            QTest::addRow("hours %s", bad) << QStringList{"--session-idle-hours", bad} << hours;
        QTest::newRow("no database") << QStringList{"--demo"} << "--database is required";
        QTest::newRow("database kind") << QStringList{"--database", "mysql://h/db"}
                                       << "unknown database kind (sqlite:PATH or postgresql://...)";
        QTest::newRow("database path") << QStringList{"--database", "sqlite:"} << "sqlite: needs a file path";
    }

    void refused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        ServerOptions o;
        QString text, usage;
        QVERIFY(!parse(&o, args, &text, &usage));
        QCOMPARE(text, error);
        QVERIFY(usage.startsWith(QLatin1String("usage: ")));
    }
};

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_appserver_options.moc"

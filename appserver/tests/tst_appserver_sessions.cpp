// Sessions kept in the database: two stores on one database stand for two
// server processes; a shared clock stands for time.
#include "Harness.h"

#include <QCryptographicHash>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Two "processes" on one database: their own store, connections and cache.
struct TwoProcesses
{
    Harness h{QByteArray()};
    std::atomic<qint64> now{1'000'000'000};
    SessionStore a{*h.db, [this] { return now.load(); }};
    Database otherDb{h.db->config()};
    SessionStore b{otherDb, [this] { return now.load(); }};

    void setLimits(qint64 idleMs, qint64 lifetimeMs)
    {
        a.setLimits(idleMs, lifetimeMs);
        b.setLimits(idleMs, lifetimeMs);
    }
    qint64 storedUse(const QByteArray &token)
    {
        Sql q(h.db->connection(), QStringLiteral("SELECT DTULTUSOMS FROM SESSAO"
                                                   " WHERE DSTOKENHASH = CAST(:KEY AS VARCHAR(64))"));
        q.bind(QStringLiteral(":KEY"),
               QString::fromLatin1(QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex()));
        q.exec();
        return q.next() ? q.value(0).toLongLong() : -1;
    }
};

} // namespace

class TestSessions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOR_REQUIRE_TEST_BACKEND(); }
    void tokenServedByEveryProcessAndStoredAsHash();
    void logoutHoldsEverywhereWithinASecond();
    void idleAndLifetimeAcrossProcesses();
    void touchStormWritesRarely();
    void touchFromManyThreads();
};

void TestSessions::tokenServedByEveryProcessAndStoredAsHash()
{
    TwoProcesses p;
    const QByteArray token = p.a.open(QStringLiteral("ANA"));
    QCOMPARE(p.b.touch(token).value_or(QString()), QStringLiteral("ANA"));
    QCOMPARE(p.a.touch(token).value_or(QString()), QStringLiteral("ANA"));

    Sql q(p.h.db->connection(), QStringLiteral("SELECT DSTOKENHASH, CDOPERADOR, DTABERTURAMS, DTULTUSOMS FROM SESSAO"));
    q.exec();
    QVERIFY(q.next());
    QCOMPARE(q.text(0).toLatin1(), QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex());
    for (int i = 0; i < 4; ++i)
        QVERIFY(!q.text(i).contains(QString::fromLatin1(token)));
    QVERIFY(!q.next());

    QVERIFY(!p.b.touch("made-up"));
    QByteArray forged = token;
    forged[0] = forged[0] == 'A' ? 'B' : 'A';
    QVERIFY(!p.b.touch(forged));
}

void TestSessions::logoutHoldsEverywhereWithinASecond()
{
    TwoProcesses p;
    for (bool closeOnA : {true, false}) {
        SessionStore &closer = closeOnA ? p.a : p.b;
        SessionStore &other = closeOnA ? p.b : p.a;
        const QByteArray token = p.a.open(QStringLiteral("ANA"));
        QVERIFY(other.touch(token)); // now held in its cache
        QVERIFY(closer.touch(token));
        QVERIFY(closer.close(token));
        QVERIFY(!closer.touch(token));
        p.now += SessionStore::kStaleMs;
        QVERIFY(!other.touch(token));
        QVERIFY(!other.close(token));
        QCOMPARE(p.storedUse(token), -1);
    }
}

void TestSessions::idleAndLifetimeAcrossProcesses()
{
    TwoProcesses p;
    p.setLimits(60'000, 300'000);

    // Used on each process in turn, 50 s apart: each sees the other's use.
    const QByteArray token = p.a.open(QStringLiteral("ANA"));
    for (int i = 1; i <= 5; ++i) {
        p.now += 50'000;
        QVERIFY2((i % 2 ? p.b : p.a).touch(token), qPrintable(QString::number(i)));
    }
    p.now += 50'001; // 300,001 ms after the login
    QVERIFY(!p.a.touch(token));
    QVERIFY(!p.b.touch(token));

    // Idle on both, whichever saw it last.
    const QByteArray idle = p.a.open(QStringLiteral("ANA"));
    p.now += 10'000;
    QVERIFY(p.b.touch(idle));
    p.now += 60'001;
    QVERIFY(!p.a.touch(idle));
    QVERIFY(!p.b.touch(idle));
}

void TestSessions::touchStormWritesRarely()
{
    TwoProcesses p;
    p.setLimits(SessionStore::kIdleLimitMs, 10 * SessionStore::kIdleLimitMs); // idle limit alone here
    const qint64 opened = p.now;
    const QByteArray token = p.a.open(QStringLiteral("ANA"));
    const qint64 writeBack = p.a.writeBackMs();
    while (p.now + 20 < opened + writeBack) {
        p.now += 20;
        QVERIFY(p.a.touch(token));
    }
    QCOMPARE(p.storedUse(token), opened);

    p.now = opened + writeBack;
    QVERIFY(p.a.touch(token));
    QCOMPARE(p.storedUse(token), opened + writeBack);
    // Used only here, yet alive on the other process for the idle limit
    // less the write-back interval after its last use.
    p.now += 10;
    QVERIFY(p.a.touch(token));
    p.now += SessionStore::kIdleLimitMs - writeBack;
    QVERIFY(p.b.touch(token));
}

void TestSessions::touchFromManyThreads()
{
    // Each thread has a connection of its own, as the HTTP layer's threads do.
    TwoProcesses p;
    p.setLimits(10'000, 3'600'000);
    const QByteArray token = p.a.open(QStringLiteral("ANA"));
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            SessionStore &s = t % 2 ? p.a : p.b;
            for (int i = 0; i < 300; ++i) {
                p.now += 7; // crosses the cache's second and the write-back interval many times
                if (!s.touch(token))
                    ++refused;
            }
        });
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(refused.load(), 0);
    QVERIFY(p.storedUse(token) > p.now - 2 * p.a.writeBackMs());
}

QTEST_GUILESS_MAIN(TestSessions)
#include "tst_appserver_sessions.moc"

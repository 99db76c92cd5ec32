// Failed logins slow attackers down without locking out the operators they
// target: counted per operator and per operator at one address, unknown codes
// per address on their own, in the database so that processes share them.
#include "Harness.h"

#include <thread>

namespace {

CoreResponse attempt(ServerCore &core, const QString &op, const QString &password, const QByteArray &peer)
{
    const QJsonObject body{{QStringLiteral("operator"), op}, {QStringLiteral("password"), password}};
    return core.handle(CoreRequest{"POST", "/session", {}, QJsonDocument(body).toJson(QJsonDocument::Compact), peer});
}

CoreResponse attempt(Harness &h, const QString &op, const QString &password, const QByteArray &peer)
{
    return attempt(*h.core, op, password, peer);
}

const QByteArray kOffice = "203.0.113.9";     // a NAT: attacker and operators share it
const QByteArray kAttacker = "198.51.100.66";
const QByteArray kHome = "192.0.2.10";        // where the real operator is
const QByteArray kElsewhere = "192.0.2.77";

} // namespace

class TestLoginGate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOR_REQUIRE_TEST_BACKEND(); }
    void sharedAddress();
    void operatorUnderAttack();
    void successClearsOnlyItsPair();
    void processesShareCounts();
    void floodOfMadeUpCodes();
};

void TestLoginGate::sharedAddress()
{
    Harness h;
    // Someone behind the office's address guesses BIA's password a few
    // times, then made-up codes, one every 20 ms for 20 s...
    for (int i = 0; i < 3; ++i)
        QCOMPARE(attempt(h, "BIA", "guess", kOffice).status, 401);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(attempt(h, QStringLiteral("X%1").arg(i), "guess", kOffice).status, 401);
    int checks = 0;
    for (int step = 0; step < 1000; ++step, h.nowMs += 20) {
        const CoreResponse r = attempt(h, QStringLiteral("Y%1").arg(step), "guess", kOffice);
        QVERIFY(r.status == 401 || r.status == 429);
        checks += r.status == 401;
        // ...while BIA, behind the same address, logs in every second.
        if (step % 50 == 0)
            QCOMPARE(attempt(h, "BIA", "bia123", kOffice).status, 200);
    }
    QCOMPARE(checks, 4); // after the waits of 1, 2, 4 and 8 s

    // The made-up codes' bucket is the address's alone, and no known
    // operator consults it, even at its longest wait.
    CoreResponse r;
    while ((r = attempt(h, "Z", "guess", kOffice)).retryAfterSec < 300)
        h.nowMs += (r.status == 429 ? r.retryAfterSec : 0) * 1000;
    QCOMPARE(attempt(h, "Z", "guess", kElsewhere).status, 401);
    QCOMPARE(attempt(h, "ANA", "guess", kOffice).status, 401); // checked, not held
    QCOMPARE(attempt(h, "ANA", "ana123", kOffice).status, 200);
    QCOMPARE(attempt(h, "BIA", "bia123", kOffice).status, 200);
}

void TestLoginGate::operatorUnderAttack()
{
    Harness h;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(attempt(h, "ANA", "guess", kAttacker).status, 401);
    // The attacker tries again the moment each wait ends: the waits double
    // up to 5 minutes, a try in between gets no check and no longer wait,
    // and the real ANA, from home, gets in at any moment.
    QList<int> waits;
    for (int round = 0; round < 12; ++round) {
        CoreResponse r = attempt(h, "ANA", "guess", kAttacker);
        QCOMPARE(r.status, 429);
        QCOMPARE(r.body, ServerCore::loginBusy(r.retryAfterSec).body);
        waits << r.retryAfterSec;
        h.nowMs += 20;
        r = attempt(h, "ANA", "guess", kAttacker);
        QCOMPARE(r.status, 429);
        QVERIFY(r.retryAfterSec <= waits.last());
        QCOMPARE(attempt(h, "ANA", "ana123", kHome).status, 200);
        h.nowMs += waits.last() * 1000 - 20;
        QCOMPARE(attempt(h, "ANA", "guess", kAttacker).status, 401);
    }
    QCOMPARE(waits, (QList<int>{1, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300, 300}));

    // A typo of the real ANA during the attack holds her address back for
    // at most the cap from her own failure: the attacker's failures in
    // between neither lengthen nor renew it.
    h.nowMs += 150'000;
    QCOMPARE(attempt(h, "ANA", "typo", kHome).status, 401);
    const CoreResponse held = attempt(h, "ANA", "ana123", kHome);
    QCOMPARE(held.status, 429);
    QCOMPARE(held.retryAfterSec, 300);
    h.nowMs += 150'000;
    QCOMPARE(attempt(h, "ANA", "guess", kAttacker).status, 401);
    h.nowMs += 150'000;
    QCOMPARE(attempt(h, "ANA", "guess", kAttacker).status, 429);
    QCOMPARE(attempt(h, "ANA", "ana123", kHome).status, 200);
}

void TestLoginGate::successClearsOnlyItsPair()
{
    Harness h;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(attempt(h, "ANA", "guess", kAttacker).status, 401);
    QCOMPARE(attempt(h, "ANA", "ana123", kHome).status, 200);
    CoreResponse r = attempt(h, "ANA", "ana123", kAttacker);
    QCOMPARE(r.status, 429); // ANA's success at home left the other address's failures
    QCOMPARE(r.retryAfterSec, 1);

    // A success at the failing address clears that address only: the
    // operator's count stays, so the next failure there (or anywhere) is
    // held back at once instead of starting five fresh checks.
    h.nowMs += 1000;
    QCOMPARE(attempt(h, "ANA", "ana123", kAttacker).status, 200);
    QCOMPARE(attempt(h, "ANA", "guess", kAttacker).status, 401);
    r = attempt(h, "ANA", "guess", kAttacker);
    QCOMPARE(r.status, 429);
    QCOMPARE(r.retryAfterSec, 2);
    QCOMPARE(attempt(h, "ANA", "guess", kElsewhere).status, 401);
    r = attempt(h, "ANA", "ana123", kElsewhere);
    QCOMPARE(r.status, 429);
    QCOMPARE(r.retryAfterSec, 4);
}

void TestLoginGate::processesShareCounts()
{
    Harness h;
    Database otherDb(h.db->config());
    ServerCore other(otherDb, h.sessions, [](const QByteArray &) {}, {}, [&h] { return h.nowMs; });

    for (int i = 0; i < 5; ++i) {
        QCOMPARE(attempt(i % 2 ? other : *h.core, "ANA", "guess", kAttacker).status, 401);
        QCOMPARE(attempt(i % 2 ? other : *h.core, "X", "guess", kAttacker).status, 401);
    }
    for (ServerCore *core : {h.core.get(), &other}) {
        QCOMPARE(attempt(*core, "ANA", "ana123", kAttacker).status, 429);
        QCOMPARE(attempt(*core, "Y", "guess", kAttacker).status, 429);
    }
    h.nowMs += 1000;
    QCOMPARE(attempt(other, "ANA", "ana123", kAttacker).status, 200);
    QCOMPARE(attempt(*h.core, "ANA", "guess", kAttacker).status, 401);
    QCOMPARE(attempt(other, "ANA", "ana123", kAttacker).retryAfterSec, 2);

    // Failures at the same moment in both processes are all counted.
    auto flood = [](ServerCore *core, char tag) {
        for (int i = 0; i < 20; ++i)
            attempt(*core, "ANA", "guess", QByteArray("10.9.") + tag + "." + QByteArray::number(i));
    };
    std::thread a(flood, h.core.get(), '1'), b(flood, &other, '2');
    a.join();
    b.join();
    QCOMPARE(h.scalar("SELECT QTFALHAS FROM FALHAENTRADA WHERE TPESCOPO = 'O' AND DSCHAVE = 'ANA'"), 46);

    // Rows lapse a window after their wait; the next failure deletes them.
    h.nowMs += 5 * 60'000 + 15 * 60'000 + 1;
    QCOMPARE(attempt(other, "W", "guess", kElsewhere).status, 401);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM FALHAENTRADA"), 1);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(attempt(*h.core, "ANA", "guess", kAttacker).status, 401);
    QCOMPARE(attempt(other, "ANA", "guess", kAttacker).status, 429);
}

void TestLoginGate::floodOfMadeUpCodes()
{
    Harness h;
    LoginGate gate(*h.db, [&h] { return h.nowMs; });
    // Made-up codes get a password check, so that they take as long as a
    // wrong password, only a few a second; the rest of a flood is refused
    // without one, and the login threads stay free for the operators.
    const int burst = LoginGatePolicy().unknownChecksBurst;
    int checked = 0;
    for (int i = 0; i < 3 * burst; ++i) {
        const LoginGate::Verdict v = gate.attempt(QStringLiteral("X%1").arg(i), "10.1.0." + QByteArray::number(i), "guess");
        QVERIFY(v.outcome == LoginGate::Outcome::Refused);
        checked += v.checked;
    }
    QCOMPARE(checked, burst);
    h.nowMs += 1000;
    QVERIFY(gate.attempt("Y", "10.1.1.1", "guess").checked);
    QVERIFY(gate.attempt("ANA", "10.1.1.2", "guess").checked);
    const LoginGate::Verdict in = gate.attempt("ANA", "10.1.1.3", "ana123");
    QVERIFY(in.outcome == LoginGate::Outcome::Accepted && in.name == "Ana Lima");
}

QTEST_GUILESS_MAIN(TestLoginGate)
#include "tst_appserver_logingate.moc"

#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <atomic>
#include <functional>

class Database;
struct CoreResponse;

struct LoginGatePolicy
{
    int freeFailures = 5;                // failures before anyone waits
    qint64 firstDelayMs = 1000;          // then 1 s, doubling with each further failure...
    qint64 maxDelayMs = 5LL * 60 * 1000; // ...up to this
    qint64 windowMs = 15LL * 60 * 1000;  // a count lapses after this long without a wait or a failure
    double unknownChecksPerSec = 2;      // password checks for codes no operator has, per process...
    int unknownChecksBurst = 10;         // ...and how many may come at once
};

// Every login passes here: the throttle of failed password checks, the
// bounded password checks themselves, and the reply that says "wait".
//
// Failures slow down further attempts without letting an attacker lock out
// the people they try to be:
// - a known operator's failures are counted per operator and per operator at
//   one client address (a pair). Only a pair that has failed waits, for a
//   delay set by the operator's count; a pair without recent failures always
//   gets its password checked, so the real operator at another address, or
//   at the attacker's address without failures of their own, gets in;
// - a success clears its own pair only, never the operator's count;
// - failures for unknown codes are counted per address, in a bucket that a
//   known operator's attempt never consults. An unknown code gets a password
//   check too, so that both refusals take as long, but only a few a second:
//   a flood of made-up codes is refused without one and so cannot keep the
//   login threads from the operators.
// The counts are rows of FALHAENTRADA, so every server process on the same
// database sees them. A login costs one query (the operator and the rows
// that may hold it back), a failure writes at most three rows.
class LoginGate final
{
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch
    using Policy = LoginGatePolicy;

    enum class Outcome { Accepted, Refused, Throttled, Busy };
    struct Verdict
    {
        Outcome outcome = Outcome::Refused;
        qint64 waitMs = 0;    // Throttled, Busy: how long to wait before trying again
        bool checked = false; // a password check ran
        QString name;         // Accepted: the operator's name
    };

    LoginGate(Database &db, Clock clock = {}, Policy policy = Policy(), int hashingSlots = 1, int hashingWaitMs = 2000);

    // One login of `code` from `address`. Raises DbError.
    Verdict attempt(const QString &code, const QByteArray &address, const QString &password);

    // The wait after `failures` failures in a row: none for the first few,
    // then doubling up to the policy's cap.
    qint64 delayAfter(int failures) const;

    // 429 with Retry-After and the sentence the users know.
    static CoreResponse tooMany(qint64 waitMs);

private:
    bool takeUnknownCheck(qint64 now);
    void recordFailure(bool known, const QString &code, const QString &key, qint64 now);
    void countFailure(bool known, const QString &code, const QString &key, qint64 now);
    void purge(qint64 now);

    Database &m_db;
    Clock m_clock;
    Policy m_policy;
    int m_hashingWaitMs;
    QSemaphore m_hashingSlots;
    std::atomic<qint64> m_purgeDueMs{0};
    QMutex m_unknownMutex;
    double m_unknownChecks;  // left in the budget of unknown codes' checks...
    qint64 m_unknownRefillMs; // ...as of this time
};

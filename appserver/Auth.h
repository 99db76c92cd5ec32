#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <functional>
#include <optional>

// Passwords are kept only as "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and
// hash in base64), so the iteration count can grow without a migration.
namespace Passwords {
inline constexpr int kDefaultIterations = 20000;
QString hash(const QString &password, int iterations = kDefaultIterations);
bool verify(const QString &password, const QString &stored);
QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations, int length);
} // namespace Passwords

class Database;

// Logged-in sessions, kept in the database (table SESSAO) so that every server
// process on it serves any token: random bearer tokens, of which the table
// holds only a SHA-256, that lapse after a period without use and in any case
// a fixed time after the login. Safe to use from any thread.
//
// A check is answered from memory when this process read or wrote the
// session less than kStaleMs ago, else from the database; so a logout or an
// expiry on another process holds here within kStaleMs. The last use goes to
// the database only when the stored one is writeBackMs() old or more (never
// more than a minute, a tenth of the idle limit when that is less), so a busy
// session costs one write a minute, not one per call. The price: another
// process may find a session idle up to writeBackMs() early; the process that
// saw the last use judges it exactly. Every process must be given the same
// limits.
class SessionStore final
{
public:
    static constexpr qint64 kIdleLimitMs = 12LL * 60 * 60 * 1000;
    static constexpr qint64 kLifetimeMs = 12LL * 60 * 60 * 1000;
    static constexpr int kTokenBytes = 32; // 256 bits
    static constexpr int kTokenLength = 43; // in unpadded base64url
    static constexpr qint64 kStaleMs = 1000;
    static constexpr qint64 kMaxWriteBackMs = 60'000;
    static constexpr qint64 kPurgeEveryMs = 60'000;
    using Clock = std::function<qint64()>; // milliseconds

    explicit SessionStore(Database &db, Clock clock = {});
    void setLimits(qint64 idleLimitMs, qint64 lifetimeMs);
    qint64 writeBackMs() const;

    // A new session's token; raises DbError when it cannot be stored.
    QByteArray open(const QString &operatorCode);
    // The operator of a live token (its idle time restarts), or nothing; also
    // nothing when the database cannot be read.
    std::optional<QString> touch(const QByteArray &token);
    // Ends the session on every process; raises DbError when the database
    // cannot be written (it has ended on this one all the same).
    bool close(const QByteArray &token);

private:
    struct Entry
    {
        QString operatorCode;
        qint64 openedMs = 0;
        qint64 storedUseMs = 0; // the last use the database holds, as far as this process knows
        qint64 lastUseMs = 0;   // the last use this process saw
        qint64 checkedMs = 0;   // when the row was last read or written
    };
    struct Limits
    {
        qint64 idleMs;
        qint64 lifetimeMs;
        qint64 writeBackMs;
    };
    static QByteArray keyOf(const QByteArray &token);
    static bool expired(const Entry &e, const Limits &limits, qint64 now);
    Limits limitsLocked() const;
    void sweepLocked(qint64 now);
    std::optional<Entry> load(const QByteArray &key);
    void writeUse(const QByteArray &key, qint64 previousMs, qint64 now);

    Database &m_db;
    Clock m_clock;
    mutable QMutex m_mutex;
    qint64 m_idleLimitMs = kIdleLimitMs;
    qint64 m_lifetimeMs = kLifetimeMs;
    QHash<QByteArray, Entry> m_cache; // by key (hash of the token)
    quint64 m_closes = 0;             // a read begun before a close must not be cached
    qint64 m_lastSweepMs;
    qint64 m_lastPurgeMs;
};

struct LoginPolicy
{
    int freeFailures = 5;
    qint64 windowMs = 15LL * 60 * 1000;
    qint64 firstDelayMs = 1000;
    qint64 maxDelayMs = 5LL * 60 * 1000;
    int maxEntries = 100000; // memory bound under a flood of made-up names
};

// Failed logins slow down further attempts, counted apart per operator code
// (known or not, so both look alike) and per client address: after
// `freeFailures` failures within `windowMs`, the next attempt must wait a
// delay that doubles with each further failure, up to `maxDelayMs`. A
// success clears the operator's count; counts lapse after a quiet window.
class LoginThrottle final
{
public:
    using Policy = LoginPolicy;
    using Clock = std::function<qint64()>; // milliseconds

    explicit LoginThrottle(Clock clock = {}, Policy policy = Policy());

    // 0 when an attempt may go ahead now, else how long it must still wait.
    qint64 waitMs(const QString &operatorCode, const QByteArray &address);
    void failed(const QString &operatorCode, const QByteArray &address);
    void succeeded(const QString &operatorCode);

private:
    struct Entry
    {
        int failures = 0;
        qint64 lastFailureMs = 0;
    };
    qint64 waitLocked(const QByteArray &key, qint64 now);
    void failLocked(const QByteArray &key, qint64 now);
    static QByteArray operatorKey(const QString &code);

    Clock m_clock;
    Policy m_policy;
    QMutex m_mutex;
    QHash<QByteArray, Entry> m_entries;
};

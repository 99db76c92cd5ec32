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

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

struct Session
{
    QString operatorCode;
    qint64 openedMs = 0;
    qint64 lastUseMs = 0;
};

// Logged-in sessions, in memory: random bearer tokens that lapse after a
// period without use, and in any case a fixed time after the login. Safe to
// use from the server's worker threads.
class SessionStore final
{
public:
    static constexpr qint64 kIdleLimitMs = 12LL * 60 * 60 * 1000;
    static constexpr qint64 kLifetimeMs = 12LL * 60 * 60 * 1000;
    using Clock = std::function<qint64()>; // milliseconds

    explicit SessionStore(Clock clock = {});
    void setLimits(qint64 idleLimitMs, qint64 lifetimeMs);

    QByteArray open(const QString &operatorCode);
    // The operator of a live token (its idle time restarts), or nothing.
    std::optional<QString> touch(const QByteArray &token);
    bool close(const QByteArray &token);

private:
    bool expired(const Session &s, qint64 now) const;
    void purgeLocked(qint64 now);

    Clock m_clock;
    qint64 m_idleLimitMs = kIdleLimitMs;
    qint64 m_lifetimeMs = kLifetimeMs;
    QMutex m_mutex;
    QHash<QByteArray, Session> m_sessions;
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

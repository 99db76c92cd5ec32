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
    qint64 lastUseMs = 0;
};

// Logged-in sessions, in memory: random bearer tokens that lapse after a
// period without use. Safe to use from the server's worker threads.
class SessionStore final
{
public:
    static constexpr qint64 kIdleLimitMs = 12LL * 60 * 60 * 1000;
    using Clock = std::function<qint64()>; // milliseconds

    explicit SessionStore(Clock clock = {});

    QByteArray open(const QString &operatorCode);
    // The operator of a live token (its idle time restarts), or nothing.
    std::optional<QString> touch(const QByteArray &token);
    bool close(const QByteArray &token);

private:
    void purgeLocked(qint64 now);

    Clock m_clock;
    QMutex m_mutex;
    QHash<QByteArray, Session> m_sessions;
};

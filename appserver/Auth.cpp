#include "Auth.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QStringList>

namespace Passwords {

QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations, int length)
{
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    QByteArray out;
    for (quint32 block = 1; out.size() < length; ++block) {
        QByteArray counter(4, '\0');
        counter[0] = char((block >> 24) & 0xff);
        counter[1] = char((block >> 16) & 0xff);
        counter[2] = char((block >> 8) & 0xff);
        counter[3] = char(block & 0xff);
        mac.reset();
        mac.addData(salt);
        mac.addData(counter);
        QByteArray u = mac.result();
        QByteArray t = u;
        for (int i = 1; i < iterations; ++i) {
            mac.reset();
            mac.addData(u);
            u = mac.result();
            for (int j = 0; j < t.size(); ++j)
                t[j] = char(t[j] ^ u[j]);
        }
        out += t;
    }
    return out.left(length);
}

static QByteArray randomBytes(int n)
{
    QByteArray b(n, '\0');
    auto *gen = QRandomGenerator::system();
    for (int i = 0; i < n; ++i)
        b[i] = char(gen->generate() & 0xff);
    return b;
}

QString hash(const QString &password, int iterations)
{
    const QByteArray salt = randomBytes(16);
    const QByteArray h = pbkdf2Sha256(password.toUtf8(), salt, iterations, 32);
    return QStringLiteral("pbkdf2-sha256$%1$%2$%3")
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(h.toBase64()));
}

bool verify(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2-sha256"))
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < 1 || iterations > 10'000'000)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
    const QByteArray expected = QByteArray::fromBase64(parts[3].toLatin1());
    if (expected.isEmpty())
        return false;
    const QByteArray got = pbkdf2Sha256(password.toUtf8(), salt, iterations, int(expected.size()));
    // Constant time over the hash length.
    unsigned char diff = 0;
    for (int i = 0; i < expected.size(); ++i)
        diff |= static_cast<unsigned char>(got[i] ^ expected[i]);
    return diff == 0;
}

} // namespace Passwords

SessionStore::SessionStore(Clock clock) : m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

void SessionStore::setLimits(qint64 idleLimitMs, qint64 lifetimeMs)
{
    QMutexLocker lock(&m_mutex);
    m_idleLimitMs = idleLimitMs;
    m_lifetimeMs = lifetimeMs;
}

bool SessionStore::expired(const Session &s, qint64 now) const
{
    return now - s.lastUseMs > m_idleLimitMs || now - s.openedMs > m_lifetimeMs;
}

QByteArray SessionStore::open(const QString &operatorCode)
{
    QByteArray raw(32, '\0'); // 256 bits
    auto *gen = QRandomGenerator::system();
    for (int i = 0; i < raw.size(); ++i)
        raw[i] = char(gen->generate() & 0xff);
    const QByteArray token = raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    purgeLocked(now);
    m_sessions.insert(token, Session{operatorCode, now, now});
    return token;
}

std::optional<QString> SessionStore::touch(const QByteArray &token)
{
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    const auto it = m_sessions.find(token);
    if (it == m_sessions.end())
        return std::nullopt;
    if (expired(*it, now)) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->lastUseMs = now;
    return it->operatorCode;
}

bool SessionStore::close(const QByteArray &token)
{
    QMutexLocker lock(&m_mutex);
    return m_sessions.remove(token) > 0;
}

void SessionStore::purgeLocked(qint64 now)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (expired(*it, now))
            it = m_sessions.erase(it);
        else
            ++it;
    }
}

LoginThrottle::LoginThrottle(Clock clock, Policy policy) : m_clock(std::move(clock)), m_policy(policy)
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

QByteArray LoginThrottle::operatorKey(const QString &code)
{
    return "o:" + code.left(64).toUtf8();
}

qint64 LoginThrottle::waitLocked(const QByteArray &key, qint64 now)
{
    const auto it = m_entries.constFind(key);
    if (it == m_entries.cend() || now - it->lastFailureMs > m_policy.windowMs)
        return 0;
    const int beyond = it->failures - m_policy.freeFailures;
    if (beyond < 0)
        return 0;
    qint64 delay = m_policy.firstDelayMs;
    for (int i = 0; i < beyond && delay < m_policy.maxDelayMs; ++i)
        delay *= 2;
    delay = std::min(delay, m_policy.maxDelayMs);
    return std::max<qint64>(0, it->lastFailureMs + delay - now);
}

qint64 LoginThrottle::waitMs(const QString &operatorCode, const QByteArray &address)
{
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    qint64 wait = waitLocked(operatorKey(operatorCode), now);
    if (!address.isEmpty())
        wait = std::max(wait, waitLocked("a:" + address, now));
    return wait;
}

void LoginThrottle::failLocked(const QByteArray &key, qint64 now)
{
    Entry &e = m_entries[key];
    if (now - e.lastFailureMs > m_policy.windowMs)
        e.failures = 0;
    ++e.failures;
    e.lastFailureMs = now;
}

void LoginThrottle::failed(const QString &operatorCode, const QByteArray &address)
{
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    if (m_entries.size() >= m_policy.maxEntries) {
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = now - it->lastFailureMs > m_policy.windowMs ? m_entries.erase(it) : std::next(it);
        // Still full: made-up names go first, addresses are kept.
        for (auto it = m_entries.begin(); m_entries.size() >= m_policy.maxEntries && it != m_entries.end();)
            it = it.key().startsWith("o:") ? m_entries.erase(it) : std::next(it);
    }
    failLocked(operatorKey(operatorCode), now);
    if (!address.isEmpty())
        failLocked("a:" + address, now);
}

void LoginThrottle::succeeded(const QString &operatorCode)
{
    QMutexLocker lock(&m_mutex);
    m_entries.remove(operatorKey(operatorCode));
}

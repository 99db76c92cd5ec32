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
    m_sessions.insert(token, Session{operatorCode, now});
    return token;
}

std::optional<QString> SessionStore::touch(const QByteArray &token)
{
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    const auto it = m_sessions.find(token);
    if (it == m_sessions.end())
        return std::nullopt;
    if (now - it->lastUseMs > kIdleLimitMs) {
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
        if (now - it->lastUseMs > kIdleLimitMs)
            it = m_sessions.erase(it);
        else
            ++it;
    }
}

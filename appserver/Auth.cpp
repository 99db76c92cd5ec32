#include "Auth.h"

#include "Database.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>

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

SessionStore::SessionStore(Database &db, Clock clock)
    : m_db(db), m_clock(std::move(clock)), m_lastSweepMs(0), m_lastPurgeMs(0)
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

SessionStore::Limits SessionStore::limitsLocked() const
{
    return {m_idleLimitMs, m_lifetimeMs, std::clamp<qint64>(m_idleLimitMs / 10, 1, kMaxWriteBackMs)};
}

qint64 SessionStore::writeBackMs() const
{
    QMutexLocker lock(&m_mutex);
    return limitsLocked().writeBackMs;
}

QByteArray SessionStore::keyOf(const QByteArray &token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
}

bool SessionStore::expired(const Entry &e, const Limits &limits, qint64 now)
{
    return now - std::max(e.storedUseMs, e.lastUseMs) > limits.idleMs || now - e.openedMs > limits.lifetimeMs;
}

QByteArray SessionStore::open(const QString &operatorCode)
{
    const QByteArray token =
        Passwords::randomBytes(kTokenBytes).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    const QByteArray key = keyOf(token);
    const qint64 now = m_clock();
    Limits limits;
    bool purge = false;
    {
        QMutexLocker lock(&m_mutex);
        limits = limitsLocked();
        if (now - m_lastPurgeMs >= kPurgeEveryMs) {
            m_lastPurgeMs = now;
            purge = true;
        }
    }
    Transaction tx(m_db);
    if (purge) {
        // Rows no process can still accept: idle past the limit even allowing
        // for a last use not yet written back.
        Sql(tx.db(), QStringLiteral("DELETE FROM SESSAO WHERE DTABERTURAMS < CAST(:OPENED AS BIGINT)"
                                    " OR DTULTUSOMS < CAST(:USED AS BIGINT)"))
            .bind(QStringLiteral(":OPENED"), now - limits.lifetimeMs)
            .bind(QStringLiteral(":USED"), now - limits.idleMs - limits.writeBackMs)
            .exec();
    }
    Sql(tx.db(), QStringLiteral("INSERT INTO SESSAO (DSTOKENHASH, CDOPERADOR, DTABERTURAMS, DTULTUSOMS)"
                                " VALUES (CAST(:KEY AS VARCHAR(64)), CAST(:OP AS VARCHAR(12)),"
                                " CAST(:NOW AS BIGINT), CAST(:NOW2 AS BIGINT))"))
        .bind(QStringLiteral(":KEY"), QString::fromLatin1(key))
        .bind(QStringLiteral(":OP"), operatorCode)
        .bind(QStringLiteral(":NOW"), now)
        .bind(QStringLiteral(":NOW2"), now)
        .exec();
    tx.commit();
    QMutexLocker lock(&m_mutex);
    m_cache.insert(key, Entry{operatorCode, now, now, now, now});
    return token;
}

std::optional<SessionStore::Entry> SessionStore::load(const QByteArray &key)
{
    Sql q(m_db.connection(), QStringLiteral("SELECT CDOPERADOR, DTABERTURAMS, DTULTUSOMS FROM SESSAO"
                                            " WHERE DSTOKENHASH = CAST(:KEY AS VARCHAR(64))"));
    q.bind(QStringLiteral(":KEY"), QString::fromLatin1(key)).exec();
    if (!q.next())
        return std::nullopt;
    Entry e;
    e.operatorCode = q.text(0);
    e.openedMs = q.value(1).toLongLong();
    e.storedUseMs = q.value(2).toLongLong();
    return e;
}

void SessionStore::writeUse(const QByteArray &key, qint64 previousMs, qint64 now)
{
    // This runs on the HTTP layer's threads too: rather than wait behind
    // another writer of this process, it leaves the write to a later use.
    QMutex *writer = m_db.config().isSqlite() ? &m_db.sqliteWriteMutex() : nullptr;
    bool written = false;
    if (!writer || writer->tryLock()) {
        try {
            Sql(m_db.connection(), QStringLiteral("UPDATE SESSAO SET DTULTUSOMS = CAST(:NOW AS BIGINT)"
                                                  " WHERE DSTOKENHASH = CAST(:KEY AS VARCHAR(64))"
                                                  " AND DTULTUSOMS < CAST(:NOW2 AS BIGINT)"))
                .bind(QStringLiteral(":NOW"), now)
                .bind(QStringLiteral(":KEY"), QString::fromLatin1(key))
                .bind(QStringLiteral(":NOW2"), now)
                .exec();
            written = true;
        } catch (const DbError &) {
        }
        if (writer)
            writer->unlock();
    }
    if (!written) {
        QMutexLocker lock(&m_mutex);
        const auto it = m_cache.find(key);
        if (it != m_cache.end() && it->storedUseMs == now)
            it->storedUseMs = previousMs;
    }
}

std::optional<QString> SessionStore::touch(const QByteArray &token)
{
    // Not one of ours: refused without asking the database.
    if (token.size() != kTokenLength
        || !std::all_of(token.cbegin(), token.cend(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
           }))
        return std::nullopt;
    const QByteArray key = keyOf(token);
    const qint64 now = m_clock();
    Limits limits;
    quint64 closes = 0;
    qint64 seenUseMs = 0;
    {
        QMutexLocker lock(&m_mutex);
        limits = limitsLocked();
        sweepLocked(now);
        const auto it = m_cache.find(key);
        if (it != m_cache.end()) {
            // A clock set back does not keep an entry fresh.
            if (now >= it->checkedMs && now - it->checkedMs < kStaleMs) {
                if (expired(*it, limits, now)) {
                    m_cache.erase(it);
                    return std::nullopt;
                }
                it->lastUseMs = std::max(it->lastUseMs, now);
                const QString op = it->operatorCode;
                const qint64 stored = it->storedUseMs;
                if (now - stored < limits.writeBackMs)
                    return op;
                it->storedUseMs = now; // so that other threads do not write it too
                lock.unlock();
                writeUse(key, stored, now);
                return op;
            }
            seenUseMs = it->lastUseMs;
        }
        closes = m_closes;
    }

    std::optional<Entry> row;
    try {
        row = load(key);
    } catch (const DbError &) {
        return std::nullopt; // a session that cannot be confirmed is not served
    }
    QMutexLocker lock(&m_mutex);
    const bool cacheable = closes == m_closes;
    if (!row) {
        if (cacheable)
            m_cache.remove(key);
        return std::nullopt;
    }
    Entry e = *row;
    e.lastUseMs = seenUseMs;
    e.checkedMs = now;
    if (const auto it = m_cache.constFind(key); it != m_cache.cend()) // another thread's newer knowledge
        e.lastUseMs = std::max(e.lastUseMs, it->lastUseMs);
    if (expired(e, limits, now)) {
        if (cacheable)
            m_cache.remove(key);
        return std::nullopt;
    }
    e.lastUseMs = now;
    const qint64 stored = e.storedUseMs;
    const bool write = now - stored >= limits.writeBackMs;
    if (write)
        e.storedUseMs = now;
    if (cacheable)
        m_cache.insert(key, e);
    lock.unlock();
    if (write)
        writeUse(key, stored, now);
    return e.operatorCode;
}

bool SessionStore::close(const QByteArray &token)
{
    const QByteArray key = keyOf(token);
    auto forget = [&] {
        QMutexLocker lock(&m_mutex);
        m_cache.remove(key);
        ++m_closes;
    };
    forget();
    int removed = 0;
    {
        Transaction tx(m_db);
        Sql q(tx.db(), QStringLiteral("DELETE FROM SESSAO WHERE DSTOKENHASH = CAST(:KEY AS VARCHAR(64))"));
        q.bind(QStringLiteral(":KEY"), QString::fromLatin1(key)).exec();
        removed = q.rowsAffected();
        tx.commit();
    }
    forget(); // a read that raced the delete is not kept either
    return removed > 0;
}

void SessionStore::sweepLocked(qint64 now)
{
    if (now - m_lastSweepMs < kPurgeEveryMs)
        return;
    m_lastSweepMs = now;
    const Limits limits = limitsLocked();
    for (auto it = m_cache.begin(); it != m_cache.end();)
        it = expired(*it, limits, now) ? m_cache.erase(it) : std::next(it);
}

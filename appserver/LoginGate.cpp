#include "LoginGate.h"

#include "Auth.h"
#include "Database.h"
#include "ServerCore.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <optional>

namespace {

// Scopes of FALHAENTRADA's rows.
constexpr char kOperator = 'O'; // a known operator, from any address; key: the code
constexpr char kPair = 'P';     // a known operator from one address; key: CODE@ADDRESS
constexpr char kUnknown = 'D';  // codes no operator has, from one address; key: the address

constexpr int kMaxAddress = 100;             // keys stay within the column
constexpr qint64 kPurgeEveryMs = 30 * 1000; // lapsed rows are deleted at most this often per process...
constexpr int kPurgeBatch = 2000;           // ...and at most this many at a time, well above what password checks can make

QString scopeText(char scope)
{
    return QString(QLatin1Char(scope));
}

} // namespace

LoginGate::LoginGate(Database &db, Clock clock, Policy policy, int hashingSlots, int hashingWaitMs)
    : m_db(db), m_clock(std::move(clock)), m_policy(policy), m_hashingWaitMs(hashingWaitMs),
      m_hashingSlots(std::max(1, hashingSlots)), m_unknownChecks(policy.unknownChecksBurst)
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    m_unknownRefillMs = m_clock();
}

qint64 LoginGate::delayAfter(int failures) const
{
    if (failures < m_policy.freeFailures)
        return 0;
    qint64 delay = m_policy.firstDelayMs;
    for (int i = m_policy.freeFailures; i < failures && delay < m_policy.maxDelayMs; ++i)
        delay *= 2;
    return std::min(delay, m_policy.maxDelayMs);
}

CoreResponse LoginGate::tooMany(qint64 waitMs)
{
    const int seconds = int(std::clamp<qint64>((waitMs + 999) / 1000, 1, 24 * 60 * 60));
    CoreResponse r;
    r.status = 429;
    r.body = QJsonDocument(QJsonObject{{QStringLiteral("error"),
                                        QStringLiteral("Tentativas de entrada demais. Aguarde %1 s e tente novamente.")
                                            .arg(seconds)}})
                 .toJson(QJsonDocument::Compact);
    r.retryAfterSec = seconds;
    return r;
}

// Spends one of the unknown codes' checks, when the budget has one left.
bool LoginGate::takeUnknownCheck(qint64 now)
{
    QMutexLocker lock(&m_unknownMutex);
    m_unknownChecks = std::min<double>(m_policy.unknownChecksBurst,
                                       m_unknownChecks + double(std::max<qint64>(0, now - m_unknownRefillMs))
                                                             * m_policy.unknownChecksPerSec / 1000.0);
    m_unknownRefillMs = now;
    if (m_unknownChecks < 1.0)
        return false;
    m_unknownChecks -= 1.0;
    return true;
}

LoginGate::Verdict LoginGate::attempt(const QString &code, const QByteArray &address, const QString &password)
{
    // An address the HTTP layer could not tell is one of its own ("-"), never NULL.
    const QString from = address.isEmpty() ? QStringLiteral("-") : QString::fromUtf8(address.left(kMaxAddress));
    const QString pair = code + QLatin1Char('@') + from;
    QString name, storedHash;
    QVariant pairHeld, fromHeld;
    {
        // The operator and both rows that may hold this attempt back, in one
        // round trip. Read to the end before any write: on SQLite a pending
        // read would pin a snapshot that the write could not upgrade.
        Sql q(m_db.connection(),
              QStringLiteral("SELECT O.NMOPERADOR, O.DSSENHAHASH,"
                             " (SELECT DTLIBERA FROM FALHAENTRADA WHERE TPESCOPO = :PS AND DSCHAVE = CAST(:PAIR AS VARCHAR(120))),"
                             " (SELECT DTLIBERA FROM FALHAENTRADA WHERE TPESCOPO = :DS AND DSCHAVE = CAST(:FROM AS VARCHAR(120)))"
                             " FROM (SELECT 1 AS UM) UM"
                             " LEFT JOIN OPERADOR O ON O.CDOPERADOR = CAST(:OP AS VARCHAR(12)) AND :FITS = 1"));
        // A longer code would be cut to a real one by the cast.
        q.bind(QStringLiteral(":PS"), scopeText(kPair))
            .bind(QStringLiteral(":PAIR"), pair)
            .bind(QStringLiteral(":DS"), scopeText(kUnknown))
            .bind(QStringLiteral(":FROM"), from)
            .bind(QStringLiteral(":OP"), code)
            .bind(QStringLiteral(":FITS"), code.size() <= 12 ? 1 : 0)
            .exec();
        if (q.next()) {
            name = q.text(0);
            storedHash = q.text(1);
            pairHeld = q.value(2);
            fromHeld = q.value(3);
        }
        while (q.next()) {
        }
    }
    const bool known = !storedHash.isEmpty();
    const QString key = known ? pair : from;
    const QVariant &held = known ? pairHeld : fromHeld;
    const qint64 now = m_clock();
    if (!held.isNull() && held.toLongLong() > now) {
        Verdict wait;
        wait.outcome = Outcome::Throttled;
        wait.waitMs = held.toLongLong() - now;
        return wait;
    }

    // Checks run a few at a time, so a flood of logins cannot take the
    // processors from everyone else; one that finds no slot soon is told to
    // come back.
    static const QString dummyHash = Passwords::hash(QStringLiteral("not a password"));
    Verdict verdict;
    // An unknown code is checked against a made-up hash, within its budget.
    if (known || takeUnknownCheck(now)) {
        if (!m_hashingSlots.tryAcquire(1, m_hashingWaitMs)) {
            verdict.outcome = Outcome::Busy;
            verdict.waitMs = 1000;
            return verdict;
        }
        struct Release
        {
            QSemaphore &s;
            ~Release() { s.release(); }
        } release{m_hashingSlots};
        verdict.checked = true;
        if (Passwords::verify(password, known ? storedHash : dummyHash) && known)
            verdict.outcome = Outcome::Accepted;
    }
    if (verdict.outcome == Outcome::Accepted) {
        verdict.name = name;
        if (!held.isNull()) {
            Transaction t(m_db);
            Sql(t.db(), QStringLiteral("DELETE FROM FALHAENTRADA WHERE TPESCOPO = :S AND DSCHAVE = CAST(:K AS VARCHAR(120))"))
                .bind(QStringLiteral(":S"), scopeText(kPair))
                .bind(QStringLiteral(":K"), key)
                .exec();
            t.commit();
        }
        return verdict;
    }
    recordFailure(known, code, key, m_clock());
    return verdict;
}

void LoginGate::recordFailure(bool known, const QString &code, const QString &key, qint64 now)
{
    countFailure(known, code, key, now);
    // Rows are made only by failures, so lapsed ones are deleted on this
    // path, after the transaction has let go of SQLite's writer.
    if (qint64 due = m_purgeDueMs.load(); now >= due && m_purgeDueMs.compare_exchange_strong(due, now + kPurgeEveryMs))
        purge(now);
}

void LoginGate::countFailure(bool known, const QString &code, const QString &key, qint64 now)
{
    Transaction t(m_db);
    // One more failure in the row's run, or the first of a new run when the
    // row had lapsed; the count comes back from the same statement, so
    // processes failing at once each see their own.
    auto fail = [&](char scope, const QString &rowKey, qint64 until) {
        Sql q(t.db(), QStringLiteral(
                          "INSERT INTO FALHAENTRADA (TPESCOPO, DSCHAVE, QTFALHAS, DTINICIO, DTLIBERA)"
                          " VALUES (:S, :K, 1, :NOW, :UNTIL)"
                          " ON CONFLICT (TPESCOPO, DSCHAVE) DO UPDATE SET"
                          " QTFALHAS = CASE WHEN FALHAENTRADA.DTLIBERA < :CUT THEN 1 ELSE FALHAENTRADA.QTFALHAS + 1 END,"
                          " DTINICIO = CASE WHEN FALHAENTRADA.DTLIBERA < :CUT THEN excluded.DTINICIO"
                          " ELSE FALHAENTRADA.DTINICIO END,"
                          " DTLIBERA = excluded.DTLIBERA"
                          " RETURNING QTFALHAS"));
        q.bind(QStringLiteral(":S"), scopeText(scope))
            .bind(QStringLiteral(":K"), rowKey)
            .bind(QStringLiteral(":NOW"), now)
            .bind(QStringLiteral(":UNTIL"), until)
            .bind(QStringLiteral(":CUT"), now - m_policy.windowMs)
            .exec();
        return q.next() ? q.value(0).toInt() : 1;
    };
    // A row's wait is known only once its count is: set apart, and only
    // when there is one, so the free failures cost a single statement.
    auto hold = [&](char scope, const QString &rowKey, int failures) {
        const qint64 delay = delayAfter(failures);
        if (delay > 0)
            Sql(t.db(), QStringLiteral("UPDATE FALHAENTRADA SET DTLIBERA = :UNTIL"
                                       " WHERE TPESCOPO = :S AND DSCHAVE = CAST(:K AS VARCHAR(120))"))
                .bind(QStringLiteral(":UNTIL"), now + delay)
                .bind(QStringLiteral(":S"), scopeText(scope))
                .bind(QStringLiteral(":K"), rowKey)
                .exec();
        return now + delay;
    };
    if (known) {
        // The pair waits as long as its operator's count says, from its own
        // failure: an attacker elsewhere can neither lengthen nor renew it.
        const qint64 until = hold(kOperator, code, fail(kOperator, code, now));
        fail(kPair, key, until);
    } else {
        hold(kUnknown, key, fail(kUnknown, key, now));
    }
    t.commit();
}

// Row by row, each delete on its own: one that waits for a row another login
// is writing then holds no other row, so the two never wait for each other.
void LoginGate::purge(qint64 now)
{
    const QSqlDatabase connection = m_db.connection();
    QList<std::pair<QString, QString>> lapsed;
    {
        Sql q(connection, QStringLiteral("SELECT TPESCOPO, DSCHAVE FROM FALHAENTRADA WHERE DTLIBERA < :CUT LIMIT %1")
                              .arg(kPurgeBatch));
        q.bind(QStringLiteral(":CUT"), now - m_policy.windowMs).exec();
        while (q.next())
            lapsed.append({q.text(0), q.text(1)});
    }
    const bool sqlite = m_db.config().isSqlite();
    for (const auto &[scope, key] : std::as_const(lapsed)) {
        std::optional<QMutexLocker<QMutex>> writer;
        if (sqlite)
            writer.emplace(&m_db.sqliteWriteMutex());
        // A row failed again since the select is kept.
        Sql(connection, QStringLiteral("DELETE FROM FALHAENTRADA WHERE TPESCOPO = :S AND DSCHAVE = CAST(:K AS VARCHAR(120))"
                                       " AND DTLIBERA < :CUT"))
            .bind(QStringLiteral(":S"), scope)
            .bind(QStringLiteral(":K"), key)
            .bind(QStringLiteral(":CUT"), now - m_policy.windowMs)
            .exec();
    }
}

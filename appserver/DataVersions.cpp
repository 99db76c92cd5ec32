#include "DataVersions.h"

#include "ColumnWidths.h"
#include "Database.h"
#include "Keys.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

namespace DataVersions {

namespace {

// The shared tables' row: no branch has an empty code.
const QString kSharedKey;

QByteArray weakless(QByteArrayView tag)
{
    tag = tag.trimmed();
    if (tag.startsWith("W/"))
        tag = tag.sliced(2);
    return tag.toByteArray();
}

} // namespace

void createSchema(QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS VERSAODADOS ("
                               " CDFILIAL %1 NOT NULL,"
                               " CDPROJETO %2 NOT NULL,"
                               " NRVERSAOATIV BIGINT NOT NULL,"
                               " NRVERSAOAPRO BIGINT NOT NULL,"
                               " PRIMARY KEY (CDFILIAL, CDPROJETO))")
                    .arg(varchar(Width::Filial), varchar(Width::Projeto))))
        throw DbError(q.lastError().text());
    // The shared row: NRVERSAOATIV is the shared tables' version,
    // NRVERSAOAPRO the epoch (never changed once drawn).
    Sql seed(db, QStringLiteral("INSERT INTO VERSAODADOS (CDFILIAL, CDPROJETO, NRVERSAOATIV, NRVERSAOAPRO)"
                                " VALUES ('', '', 1, CAST(:EPOCH AS BIGINT)) ON CONFLICT (CDFILIAL, CDPROJETO) DO NOTHING"));
    seed.bind(QStringLiteral(":EPOCH"), qint64(QRandomGenerator::system()->generate64() >> 12));
    seed.exec();
}

Stamp read(QSqlDatabase &db, const QString &filial, const QString &projeto)
{
    Sql q(db, QStringLiteral("SELECT CDFILIAL, CDPROJETO, NRVERSAOATIV, NRVERSAOAPRO FROM VERSAODADOS"
                             " WHERE (CDFILIAL = '' AND CDPROJETO = '') OR (CDFILIAL = :F AND CDPROJETO = :P)"));
    q.bind(QStringLiteral(":F"), filial).bind(QStringLiteral(":P"), projeto).exec();
    Stamp s;
    while (q.next()) {
        const bool shared = q.text(0).isEmpty() && q.text(1).isEmpty();
        const bool project = q.text(0) == filial && q.text(1) == projeto;
        if (shared) {
            s.reference = q.value(2).toLongLong();
            s.epoch = q.value(3).toLongLong();
        }
        if (project && !shared) {
            s.activities = q.value(2).toLongLong();
            s.bookings = q.value(3).toLongLong();
        }
    }
    return s;
}

void bump(QSqlDatabase &tx, const QString &filial, const QString &projeto, unsigned deps)
{
    const int a = (deps & Activities) ? 1 : 0, b = (deps & Bookings) ? 1 : 0;
    if (!a && !b)
        return;
    // A project never written before counts as version 0 of both.
    Sql q(tx, QStringLiteral("INSERT INTO VERSAODADOS (CDFILIAL, CDPROJETO, NRVERSAOATIV, NRVERSAOAPRO)"
                             " VALUES (:F, :P, CAST(:A AS BIGINT), CAST(:B AS BIGINT))"
                             " ON CONFLICT (CDFILIAL, CDPROJETO) DO UPDATE SET"
                             " NRVERSAOATIV = VERSAODADOS.NRVERSAOATIV + CAST(:A2 AS BIGINT),"
                             " NRVERSAOAPRO = VERSAODADOS.NRVERSAOAPRO + CAST(:B2 AS BIGINT)"));
    q.bind(QStringLiteral(":F"), filial)
        .bind(QStringLiteral(":P"), projeto)
        .bind(QStringLiteral(":A"), a)
        .bind(QStringLiteral(":B"), b)
        .bind(QStringLiteral(":A2"), a)
        .bind(QStringLiteral(":B2"), b)
        .exec();
}

void bumpReference(QSqlDatabase &tx)
{
    Sql q(tx, QStringLiteral("UPDATE VERSAODADOS SET NRVERSAOATIV = NRVERSAOATIV + 1 WHERE CDFILIAL = '' AND CDPROJETO = ''"));
    q.exec();
}

QByteArray etag(const Stamp &stamp, unsigned deps, const QString &method, const QJsonArray &params)
{
    const qint64 r = (deps & Reference) ? stamp.reference : 0, a = (deps & Activities) ? stamp.activities : 0,
                 b = (deps & Bookings) ? stamp.bookings : 0;
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(QByteArray::number(stamp.epoch));
    h.addData("\x1f");
    h.addData(method.toUtf8());
    h.addData("\x1f");
    h.addData(QJsonDocument(params).toJson(QJsonDocument::Compact));
    return "W/\"" + QByteArray::number(r) + '.' + QByteArray::number(a) + '.' + QByteArray::number(b) + '-'
           + h.result().left(12).toHex() + '"';
}

bool matches(QByteArrayView ifNoneMatch, QByteArrayView etag)
{
    if (ifNoneMatch.isEmpty() || etag.isEmpty())
        return false;
    const QByteArray want = weakless(etag);
    for (const QByteArray &candidate : ifNoneMatch.toByteArray().split(','))
        if (weakless(candidate) == want)
            return true;
    return false;
}

} // namespace DataVersions

#pragma once

// A server core over a fresh database, driven as bytes in, bytes out: a
// SQLite file, or with VOR_TEST_BACKEND=postgresql a schema of its own in the
// PostgreSQL database named by VOR_TEST_POSTGRESQL (./vor test starts one).
#include "Contract.h"
#include "Database.h"
#include "Fixture.h"
#include "ServerCore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QSqlError>
#include <QUuid>
#include <memory>

// In initTestCase: the PostgreSQL run of a suite is skipped where no server was given.
#define VOR_REQUIRE_TEST_BACKEND()                                                                                     \
    do {                                                                                                               \
        if (TestBackend::postgres() && TestBackend::postgresUrl().isEmpty())                                           \
            QSKIP("VOR_TEST_POSTGRESQL is not set (./vor test starts a private PostgreSQL)");                          \
    } while (false)

// The database the suites run against, and fresh schemas inside it.
namespace TestBackend {
inline bool postgres()
{
    return qEnvironmentVariable("VOR_TEST_BACKEND") == QLatin1String("postgresql");
}
inline QString postgresUrl()
{
    return qEnvironmentVariable("VOR_TEST_POSTGRESQL");
}
// DDL cannot be prepared: run as is; a failure fails the test.
inline void administer(const QString &statement)
{
    QString error;
    const auto config = DatabaseConfig::parse(postgresUrl(), &error);
    if (!config)
        QFAIL(qPrintable(error));
    Database admin(*config);
    QSqlQuery q(admin.connection());
    if (!q.exec(statement))
        QFAIL(qPrintable(statement + QStringLiteral(": ") + q.lastError().text()));
}
// A new, empty schema; its name.
inline QString createSchema()
{
    const QString name = QStringLiteral("t") + QUuid::createUuid().toString(QUuid::Id128);
    administer(QStringLiteral("CREATE SCHEMA %1").arg(name));
    return name;
}
inline void dropSchema(const QString &name)
{
    administer(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(name));
}
// "--database" text for a server over a fresh database.
inline QString databaseSpec(const QString &sqlitePath, QString *schema)
{
    if (!postgres())
        return QStringLiteral("sqlite:") + sqlitePath;
    *schema = createSchema();
    return postgresUrl() + QStringLiteral("?schema=") + *schema;
}
} // namespace TestBackend

class Harness
{
public:
    static constexpr int kFastHash = 50; // password rounds: tests need no strength

    explicit Harness(const QByteArray &fixture = Fixture::demoJson())
    {
        db->createSchema();
        if (!fixture.isEmpty())
            Fixture::import(*db, fixture, kFastHash);
        core = std::make_unique<ServerCore>(
            *db, sessions,
            [this](const QByteArray &line) {
                QMutexLocker lock(&logMutex); // calls may come from several threads
                log << line;
            },
            [this] { return serviceNow; }, [this] { return nowMs; });
    }

    ~Harness()
    {
        core.reset();
        db.reset();
        if (!schema.isEmpty())
            TestBackend::dropSchema(schema);
    }
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;

    std::unique_ptr<Database> openDatabase()
    {
        DatabaseConfig config;
        if (TestBackend::postgres()) {
            QString error;
            config = *DatabaseConfig::parse(TestBackend::postgresUrl(), &error);
            config.schema = schema = TestBackend::createSchema();
        } else {
            config.driver = QStringLiteral("QSQLITE");
            config.name = dir.filePath(QStringLiteral("t.sqlite"));
        }
        return std::make_unique<Database>(config);
    }

    CoreResponse request(const QByteArray &method, const QByteArray &path, const QByteArray &body,
                         const QByteArray &token = {})
    {
        CoreRequest r{method, path, token.isEmpty() ? QByteArray() : "Bearer " + token, body, {}};
        return core->handle(r);
    }

    QByteArray login(const QString &op, const QString &password)
    {
        const QJsonObject body{{QStringLiteral("operator"), op}, {QStringLiteral("password"), password}};
        const CoreResponse r = request("POST", "/session", QJsonDocument(body).toJson());
        return r.status == 200 ? QJsonDocument::fromJson(r.body).object().value(QStringLiteral("token")).toString().toLatin1()
                               : QByteArray();
    }

    QByteArray rpcPath() const { return "/" + QByteArray(kContractModuleName); }

    // The whole JSON-RPC reply of one call.
    QJsonObject call(const QByteArray &token, const QString &method, const QJsonArray &params)
    {
        const QJsonObject req{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("id"), 7},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("params"), params}};
        const CoreResponse r = request("POST", rpcPath(), QJsonDocument(req).toJson(QJsonDocument::Compact), token);
        return QJsonDocument::fromJson(r.body).object();
    }

    static int errorCode(const QJsonObject &reply)
    {
        return reply.value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt();
    }
    static QJsonValue payload(const QJsonObject &reply)
    {
        return reply.value(QStringLiteral("result")).toObject().value(QStringLiteral("payload"));
    }
    static QJsonArray rows(const QJsonObject &reply)
    {
        return payload(reply).toObject().value(QStringLiteral("rows")).toArray();
    }
    // Value of a named field in a packet's row.
    static QJsonValue field(const QJsonObject &packet, const QJsonArray &row, const QString &name)
    {
        const QJsonArray fields = packet.value(QStringLiteral("fields")).toArray();
        for (qsizetype i = 0; i < fields.size(); ++i)
            if (fields.at(i).toObject().value(QStringLiteral("name")).toString() == name)
                return row.at(i);
        return QJsonValue(QJsonValue::Undefined);
    }

    // The change log the screen sends for marks on a list: every field of the
    // list, before and after, IDCHECK (the first field) set to each mark.
    static QJsonObject changeLog(const QJsonObject &listPacket, const QList<QPair<QString, QString>> &marks)
    {
        const QJsonArray rows = listPacket.value(QStringLiteral("rows")).toArray();
        QJsonArray changes;
        for (const auto &[seq, mark] : marks) {
            for (const QJsonValue &rv : rows) {
                const QJsonArray row = rv.toArray();
                if (field(listPacket, row, QStringLiteral("CDSEQCRONPRJ")).toString() != seq)
                    continue;
                QJsonArray after = row;
                after[0] = mark;
                changes.append(QJsonObject{{QStringLiteral("op"), QStringLiteral("update")},
                                           {QStringLiteral("before"), row},
                                           {QStringLiteral("after"), after}});
            }
        }
        return QJsonObject{{QStringLiteral("fields"), listPacket.value(QStringLiteral("fields"))},
                           {QStringLiteral("changes"), changes}};
    }

    // A statement run as is (DDL cannot be prepared everywhere).
    void execute(const QString &sql)
    {
        QSqlQuery q(db->connection());
        if (!q.exec(sql))
            QFAIL(qPrintable(sql + QStringLiteral(": ") + q.lastError().text()));
    }

    qint64 scalar(const QString &sql)
    {
        Sql q(db->connection(), sql);
        q.exec();
        return q.next() ? q.value(0).toLongLong() : -1;
    }

    QTemporaryDir dir;
    QString schema; // PostgreSQL only
    std::unique_ptr<Database> db = openDatabase(); // before the sessions, which keep it
    qint64 nowMs = 1'000'000'000;
    SessionStore sessions{*db, [this] { return nowMs; }};
    QDateTime serviceNow{QDate(2026, 5, 4), QTime(10, 30, 0)};
    QMutex logMutex;
    QList<QByteArray> log;
    std::unique_ptr<ServerCore> core;
};

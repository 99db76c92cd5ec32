#pragma once

// A server core over a fresh SQLite file, driven as bytes in, bytes out.
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
#include <memory>

class Harness
{
public:
    static constexpr int kFastHash = 50; // password rounds: tests need no strength

    explicit Harness(const QByteArray &fixture = Fixture::demoJson())
    {
        DatabaseConfig config;
        config.driver = QStringLiteral("QSQLITE");
        config.name = dir.filePath(QStringLiteral("t.sqlite"));
        db = std::make_unique<Database>(config);
        db->createSchema();
        if (!fixture.isEmpty())
            Fixture::import(*db, fixture, kFastHash);
        core = std::make_unique<ServerCore>(
            *db, sessions, [this](const QByteArray &line) { log << line; },
            [this] { return serviceNow; }, [this] { return nowMs; });
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

    qint64 scalar(const QString &sql)
    {
        Sql q(db->connection(), sql);
        q.exec();
        return q.next() ? q.value(0).toLongLong() : -1;
    }

    QTemporaryDir dir;
    std::unique_ptr<Database> db;
    qint64 nowMs = 1'000'000'000;
    SessionStore sessions{[this] { return nowMs; }};
    QDateTime serviceNow{QDate(2026, 5, 4), QTime(10, 30, 0)};
    QList<QByteArray> log;
    std::unique_ptr<ServerCore> core;
};

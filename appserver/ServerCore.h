#pragma once

#include "Auth.h"
#include "Service.h"

#include <QByteArray>
#include <QJsonObject>
#include <functional>

class Database;

// What the HTTP layer hands over and gets back; the core never sees a socket.
struct CoreRequest
{
    QByteArray method;        // "POST", "DELETE", ...
    QByteArray path;          // "/session", "/VOR01300.rdmConcAtivProje"
    QByteArray authorization; // the Authorization header, as sent
    QByteArray body;
};

struct CoreResponse
{
    int status = 200;
    QByteArray body; // empty: no content
    QByteArray contentType = "application/json"; // exactly this, or the HTTP layer will not compress it
};

// The application server as a function from request bytes to response bytes:
// sessions at /session, JSON-RPC 2.0 at /<module name>. One JSON line per
// call goes to the log sink.
class ServerCore final
{
public:
    static constexpr qsizetype kMaxBody = 16 * 1024 * 1024;
    using LogSink = std::function<void(const QByteArray &line)>;

    ServerCore(Database &db, SessionStore &sessions, LogSink log = {}, Service::Clock clock = {});

    CoreResponse handle(const CoreRequest &request);

private:
    CoreResponse login(const CoreRequest &request);
    CoreResponse logout(const CoreRequest &request);
    CoreResponse rpc(const CoreRequest &request);
    // One JSON-RPC call; an empty object for a notification.
    QJsonObject call(const QJsonValue &request, const std::optional<QString> &operatorCode);
    void log(const QString &operatorCode, const QJsonValue &method, const QJsonValue &params, qint64 ms,
             const QJsonValue &outcome);

    Database &m_db;
    SessionStore &m_sessions;
    LogSink m_log;
    Service m_service;
};

// Default sink: stderr, one whole line at a time.
void writeLogLineToStderr(const QByteArray &line);

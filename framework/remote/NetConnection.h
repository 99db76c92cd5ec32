#pragma once

#include "vorremote_export.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class TNetConnection;

// One positional argument of a remote call: a value, or a string passed by
// reference that the call overwrites with what the server left in it.
struct RemoteArg
{
    RemoteArg(const QString &text) : value(text) {}
    RemoteArg(const char *text) : value(QString::fromUtf8(text)) {}
    RemoteArg(const QJsonValue &json) : value(json) {}
    RemoteArg(const QJsonObject &json) : value(json) {}
    RemoteArg(const QJsonArray &json) : value(json) {}
    RemoteArg(int number) : value(number) {}
    RemoteArg(double number) : value(number) {}
    RemoteArg(bool flag) : value(flag) {}
    RemoteArg(QString *byRef) : ref(byRef) {}

    QJsonValue value;
    QString *ref = nullptr; // by-reference argument when set
};

// The application-server handle of a connection: methods are called by name.
class VORREMOTE_EXPORT TAppServer
{
public:
    explicit TAppServer(TNetConnection &connection) : m_connection(connection) {}

    // Runs the method and waits for it (see TNetConnection). Returns the
    // result envelope for CheckResultServ:
    //   success {"payload": P, "byref": [...]}  (by-reference args already written back)
    //   failure {"error": {"code": N, "message": "..."}}
    // With the connection's ThrowException set, a failure raises EVorError instead.
    // A session the server no longer knows (ErrSessionExpired) is renewed
    // through renewSession() (Services.h) and the call sent once more.
    QJsonValue call(const QString &method, const QList<RemoteArg> &args = {});

    // The server's code for a call without a valid session.
    static constexpr int ErrSessionExpired = -32001;

private:
    QJsonValue callOnce(const QString &method, const QList<RemoteArg> &args, bool mayRenew);
    static QJsonValue withByRef(TNetConnection &c, const QString &method, const QList<RemoteArg> &args,
                                int byRefCount, const QJsonValue &envelope);
    TNetConnection &m_connection;
};

// Link to a remote module of the application server (JSON-RPC 2.0 over HTTP:
// POST http://Host:Port/ServerName, bearer token of the host's session).
// HTTP needs no standing link: opening only fixes host, port and module for
// the calls that follow. A call waits in a local event loop that lets paint
// and timers run but no user input through; a second call while one waits is
// refused, never nested.
class VORREMOTE_EXPORT TNetConnection : public QObject
{
    Q_OBJECT

public:
    using ConnectEvent = std::function<void(QObject *sender)>;

    // Transport failures reported by the connection itself (server errors
    // carry the server's own codes).
    enum ClientError {
        ErrNotConfigured = -31000,
        ErrConnectionFailed = -31001,
        ErrTimeout = -31002,
        ErrHttp = -31003,
        ErrBadResponse = -31004,
        ErrBusy = -31005,
        ErrNetwork = -31006
    };

    explicit TNetConnection(QObject *owner = nullptr);
    ~TNetConnection() override;

    QString ServerName() const { return m_serverName; }
    void SetServerName(const QString &name) { m_serverName = name; }
    QString Host() const { return m_host; }
    void SetHost(const QString &host) { m_host = host; }
    int Port() const { return m_port; }
    void SetPort(int port) { m_port = port; }
    bool ThrowException() const { return m_throwException; }
    void SetThrowException(bool on) { m_throwException = on; }

    // Transfer time limit of one call, in milliseconds (default 30 000).
    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }

    // Runs just before the connection opens; typically sets Host and Port.
    ConnectEvent BeforeConnect;

    bool Connected() const { return m_connected; }
    // true: runs BeforeConnect, then opens with the host, port and module then
    // set (an empty host or a bad port leaves it closed; raises EVorError when
    // ThrowException is set). false: drops the link.
    void SetConnected(bool connected);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    // The handle for calls; reading it while closed opens the connection
    // first (BeforeConnect runs again).
    TAppServer &AppServer();
    // A call of any connection is waiting for its answer (a further call now
    // would be refused as busy).
    static bool CallRunning();

    // Bytes of answers kept for reuse at most (a larger one is not kept).
    static constexpr qint64 kKeptAnswersBytes = 96LL * 1024 * 1024;
    // Answers kept now (for tests and diagnostics).
    int keptAnswers() const { return int(m_kept.size()); }

private:
    friend class TAppServer;
    QJsonValue failure(int code, const QString &message) const;

    QString m_serverName;
    QString m_host;
    int m_port = 0;
    bool m_throwException = true;
    int m_timeoutMs = 30000;
    bool m_connected = false;
    // What the calls use: fixed when the connection opened.
    QString m_openHost;
    int m_openPort = 0;
    QString m_openServerName;
    int m_nextId = 1;
    // The last answer of each read (by server, method and arguments) with
    // the validator the server gave it. The validator goes with the next
    // same call; when the server answers that nothing changed (304), the
    // answer kept is used as it is, neither sent nor parsed again.
    struct KeptAnswer
    {
        QByteArray etag;
        QJsonValue envelope;
        qint64 size = 0;   // bytes of the answer as it came
        quint64 used = 0;  // m_keptClock when last used
    };
    QHash<QString, KeptAnswer> m_kept;
    QString m_keptServer; // the server the answers came from; another one's drops them
    qint64 m_keptBytes = 0;
    quint64 m_keptClock = 0;
    void keep(const QString &key, const QByteArray &etag, const QJsonValue &envelope, qint64 size);
    QNetworkAccessManager *m_manager = nullptr;
    TAppServer m_appServer;
};

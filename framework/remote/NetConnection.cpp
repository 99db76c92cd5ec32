#include "NetConnection.h"

#include "Errors.h"
#include "HttpTransport.h"
#include "Services.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>
#include <QUrl>

namespace {
QString byRefText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isNull() || value.isUndefined())
        return QString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray())
                                                   : QJsonDocument(value.toObject());
    return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
}
} // namespace

TNetConnection::TNetConnection(QObject *owner)
    : QObject(owner)
    , m_appServer(*this)
{
}

TNetConnection::~TNetConnection() = default;

void TNetConnection::SetConnected(bool connected)
{
    if (connected == m_connected)
        return;
    if (!connected) {
        m_connected = false;
        m_openHost.clear();
        m_openPort = 0;
        m_openServerName.clear();
        if (m_manager)
            m_manager->clearConnectionCache();
        return;
    }
    if (BeforeConnect)
        BeforeConnect(this);
    if (m_host.trimmed().isEmpty() || m_port <= 0 || m_port > 65535) {
        if (m_throwException)
            throw EVorError(QStringLiteral("O endereço do servidor de aplicação não foi informado."));
        return;
    }
    m_openHost = m_host.trimmed();
    m_openPort = m_port;
    m_openServerName = m_serverName;
    m_connected = true;
}

TAppServer &TNetConnection::AppServer()
{
    if (!m_connected)
        SetConnected(true);
    return m_appServer;
}

QJsonValue TNetConnection::failure(int code, const QString &message) const
{
    if (m_throwException)
        throw EVorError(message);
    return QJsonObject{{QStringLiteral("error"),
                        QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}}}};
}

// Writes the by-reference arguments back from an answer's envelope.
QJsonValue TAppServer::withByRef(TNetConnection &c, const QString &method, const QList<RemoteArg> &args,
                                 int byRefCount, const QJsonValue &envelope)
{
    if (byRefCount > 0) {
        const QJsonValue byref = envelope.toObject().value(QStringLiteral("byref"));
        if (!byref.isUndefined()) {
            const QJsonArray values = byref.toArray();
            if (!byref.isArray() || values.size() != byRefCount)
                return c.failure(TNetConnection::ErrBadResponse,
                                 QStringLiteral("O servidor de aplicação enviou uma resposta inválida à chamada de %1.")
                                     .arg(method));
            int next = 0;
            for (const RemoteArg &arg : args) {
                if (arg.ref)
                    *arg.ref = byRefText(values.at(next++));
            }
        }
    }
    return envelope;
}

QJsonValue TAppServer::call(const QString &method, const QList<RemoteArg> &args)
{
    return callOnce(method, args, true);
}

QJsonValue TAppServer::callOnce(const QString &method, const QList<RemoteArg> &args, bool mayRenew)
{
    TNetConnection &c = m_connection;
    if (!c.m_connected)
        return c.failure(TNetConnection::ErrNotConfigured,
                         QStringLiteral("O endereço do servidor de aplicação não foi informado."));
    if (VorHttp::exchangeRunning())
        return c.failure(TNetConnection::ErrBusy,
                         QStringLiteral("Já existe uma chamada ao servidor de aplicação em andamento; "
                                        "aguarde o seu término e tente novamente."));

    QJsonArray params;
    int byRefCount = 0;
    for (const RemoteArg &arg : args) {
        if (arg.ref) {
            params.append(*arg.ref);
            ++byRefCount;
        } else {
            params.append(arg.value);
        }
    }
    const int id = c.m_nextId++;
    const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("params"), params},
                              {QStringLiteral("id"), id}};

    if (!c.m_manager) {
        c.m_manager = new QNetworkAccessManager(&c);
        // The application server sits on the local network: no proxy between.
        c.m_manager->setProxy(QNetworkProxy::NoProxy);
    }
    QUrl url;
    url.setScheme(VorHttp::transportScheme());
    url.setHost(c.m_openHost);
    url.setPort(c.m_openPort);
    url.setPath(QLatin1Char('/') + c.m_openServerName);

    const bool throwException = c.m_throwException;
    const QPointer<TNetConnection> alive(&c);
    // Answers of another server (the host was pointed elsewhere) never
    // match here again: they are dropped rather than left to the bound.
    if (c.m_keptServer != url.toString()) {
        c.m_kept.clear();
        c.m_keptBytes = 0;
        c.m_keptServer = url.toString();
    }
    const QString keptKey = method + QLatin1Char('\x1f')
                            + QString::fromUtf8(QJsonDocument(params).toJson(QJsonDocument::Compact));
    const auto kept = c.m_kept.constFind(keptKey);
    const QByteArray validator = kept == c.m_kept.cend() ? QByteArray() : kept->etag;
    const VorHttp::Result result = VorHttp::exchange(*c.m_manager, "POST", url,
                                                     QJsonDocument(request).toJson(QJsonDocument::Compact),
                                                     sessionToken(), c.m_timeoutMs, validator);
    // Freed while waiting (its form went away): report without touching it.
    auto freedDuringCall = [throwException]() -> QJsonValue {
        const QString message = QStringLiteral("A conexão com o servidor de aplicação foi fechada durante a chamada.");
        if (throwException)
            throw EVorError(message);
        return QJsonObject{{QStringLiteral("error"),
                            QJsonObject{{QStringLiteral("code"), int(TNetConnection::ErrNetwork)},
                                        {QStringLiteral("message"), message}}}};
    };
    if (!alive)
        return freedDuringCall();
    switch (result.outcome) {
    case VorHttp::Result::Outcome::Answered:
        break;
    case VorHttp::Result::Outcome::Busy:
        return c.failure(TNetConnection::ErrBusy, result.errorText);
    case VorHttp::Result::Outcome::ConnectionFailed:
        return c.failure(TNetConnection::ErrConnectionFailed, result.errorText);
    case VorHttp::Result::Outcome::Timeout:
        return c.failure(TNetConnection::ErrTimeout, result.errorText);
    case VorHttp::Result::Outcome::NetworkError:
        return c.failure(TNetConnection::ErrNetwork, result.errorText);
    }

    if (result.httpStatus == 304) {
        // Unchanged since the answer kept: that answer is this call's.
        const auto again = c.m_kept.find(keptKey);
        if (validator.isEmpty() || again == c.m_kept.end())
            return c.failure(TNetConnection::ErrBadResponse,
                             QStringLiteral("O servidor de aplicação enviou uma resposta inválida à chamada de %1.").arg(method));
        again->used = ++c.m_keptClock;
        return withByRef(c, method, args, byRefCount, again->envelope);
    }

    QJsonParseError parseError;
    const QJsonDocument answer = QJsonDocument::fromJson(result.body, &parseError);
    const QJsonObject body = answer.object();
    const bool isRpc = parseError.error == QJsonParseError::NoError && answer.isObject()
                       && (body.contains(QStringLiteral("result")) || body.contains(QStringLiteral("error")));

    if (isRpc && body.value(QStringLiteral("error")).isObject()) {
        // The server's refusal, with its own code and sentence.
        const QJsonObject error = body.value(QStringLiteral("error")).toObject();
        QString message = error.value(QStringLiteral("message")).toString();
        if (message.isEmpty())
            message = QStringLiteral("O servidor de aplicação recusou a chamada de %1.").arg(method);
        const int code = error.value(QStringLiteral("code")).toInt();
        // Refused before any work was done: after a new login the same call
        // is safe to send again, once.
        if (code == ErrSessionExpired && mayRenew && renewSession())
            return alive ? callOnce(method, args, false) : freedDuringCall();
        return c.failure(code, message);
    }
    if (result.httpStatus == 413)
        return c.failure(TNetConnection::ErrHttp,
                         QStringLiteral("Os dados enviados excedem o tamanho aceito pelo servidor de aplicação."));
    if (result.httpStatus == 401)
        return c.failure(TNetConnection::ErrHttp,
                         QStringLiteral("A sessão com o servidor de aplicação não é válida; entre novamente no sistema."));
    if (result.httpStatus < 200 || result.httpStatus >= 300)
        return c.failure(TNetConnection::ErrHttp,
                         QStringLiteral("O servidor de aplicação respondeu com o erro HTTP %1.").arg(result.httpStatus));
    if (!isRpc || !body.contains(QStringLiteral("result"))
        || (body.contains(QStringLiteral("id")) && body.value(QStringLiteral("id")).toInt(-1) != id))
        return c.failure(TNetConnection::ErrBadResponse,
                         QStringLiteral("O servidor de aplicação enviou uma resposta inválida à chamada de %1.").arg(method));

    QJsonValue envelope = body.value(QStringLiteral("result"));
    if (!envelope.isObject() || !envelope.toObject().contains(QStringLiteral("payload")))
        envelope = QJsonObject{{QStringLiteral("payload"), envelope}};
    if (!result.etag.isEmpty())
        c.keep(keptKey, result.etag, envelope, result.body.size());
    else if (kept != c.m_kept.cend())
        c.keep(keptKey, {}, {}, 0); // no validator any more: drop the old answer
    return withByRef(c, method, args, byRefCount, envelope);
}

void TNetConnection::keep(const QString &key, const QByteArray &etag, const QJsonValue &envelope, qint64 size)
{
    const auto old = m_kept.constFind(key);
    if (old != m_kept.cend()) {
        m_keptBytes -= old->size;
        m_kept.erase(old);
    }
    if (etag.isEmpty() || size > kKeptAnswersBytes / 2)
        return;
    while (m_keptBytes + size > kKeptAnswersBytes && !m_kept.isEmpty()) {
        auto oldest = m_kept.begin();
        for (auto it = m_kept.begin(); it != m_kept.end(); ++it)
            if (it->used < oldest->used)
                oldest = it;
        m_keptBytes -= oldest->size;
        m_kept.erase(oldest);
    }
    m_kept.insert(key, KeptAnswer{etag, envelope, size, ++m_keptClock});
    m_keptBytes += size;
}

bool TNetConnection::CallRunning()
{
    return VorHttp::exchangeRunning();
}

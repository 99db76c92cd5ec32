#include "Services.h"

#include "HttpTransport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QUrl>

namespace {
struct ServiceState
{
    QString operatorCode;
    QString webUrl;
    int webPort = 0;
    QString token;
    int timeoutMs = 30000;
    SessionRenewer renewer;
    bool renewing = false;
};

ServiceState &state()
{
    static ServiceState s;
    return s;
}

QUrl sessionUrl(const QString &host, int port)
{
    QUrl url;
    url.setScheme(VorHttp::transportScheme());
    url.setHost(host);
    url.setPort(port);
    url.setPath(QStringLiteral("/session"));
    return url;
}
} // namespace

QString Operador() { return state().operatorCode; }
QString WebURL() { return state().webUrl; }
int WebPort() { return state().webPort; }
void setOperador(const QString &code) { state().operatorCode = code; }
void setWebURL(const QString &host) { state().webUrl = host; }
void setWebPort(int port) { state().webPort = port; }
QString sessionToken() { return state().token; }
void setSessionToken(const QString &token) { state().token = token; }
void setSessionTimeoutMs(int milliseconds) { state().timeoutMs = milliseconds; }

bool login(const QString &host, int port, const QString &operatorCode, const QString &password,
           QString *errorText, QString *operatorName)
{
    auto fail = [errorText](const QString &text) {
        if (errorText)
            *errorText = text;
        return false;
    };
    if (host.trimmed().isEmpty() || port <= 0 || port > 65535)
        return fail(QStringLiteral("O endereço do servidor de aplicação não foi informado."));
    if (operatorCode.trimmed().isEmpty())
        return fail(QStringLiteral("Informe o operador."));

    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    const QJsonObject request{{QStringLiteral("operator"), operatorCode},
                              {QStringLiteral("password"), password}};
    const VorHttp::Result result =
        VorHttp::exchange(manager, "POST", sessionUrl(host, port),
                          QJsonDocument(request).toJson(QJsonDocument::Compact), QString(), state().timeoutMs);
    if (result.outcome != VorHttp::Result::Outcome::Answered)
        return fail(result.errorText);

    const QJsonDocument answer = QJsonDocument::fromJson(result.body);
    const QJsonObject body = answer.object();
    if (result.httpStatus == 401 || result.httpStatus == 403)
        return fail(QStringLiteral("Operador ou senha inválidos."));
    if (result.httpStatus != 200) {
        // The server's own sentence, when it sent one.
        const QJsonValue error = body.value(QStringLiteral("error"));
        QString message = error.isObject() ? error.toObject().value(QStringLiteral("message")).toString()
                                           : error.toString();
        if (message.isEmpty())
            message = QStringLiteral("O servidor de aplicação recusou o início da sessão (erro HTTP %1).")
                          .arg(result.httpStatus);
        return fail(message);
    }
    const QString token = body.value(QStringLiteral("token")).toString();
    if (!answer.isObject() || token.isEmpty())
        return fail(QStringLiteral("O servidor de aplicação enviou uma resposta inválida ao início da sessão."));

    const QString code = body.value(QStringLiteral("operator")).toString();
    state().operatorCode = code.isEmpty() ? operatorCode : code;
    state().token = token;
    if (operatorName)
        *operatorName = body.value(QStringLiteral("name")).toString();
    return true;
}

void setSessionRenewer(SessionRenewer renewer)
{
    state().renewer = std::move(renewer);
}

bool renewSession()
{
    ServiceState &s = state();
    if (!s.renewer || s.renewing)
        return false;
    s.renewing = true;
    struct Done
    {
        bool &flag;
        ~Done() { flag = false; }
    } done{s.renewing};
    const SessionRenewer renewer = s.renewer; // may be replaced while it runs
    return renewer();
}

void logout()
{
    ServiceState &s = state();
    if (s.token.isEmpty())
        return;
    if (!s.webUrl.isEmpty() && s.webPort > 0 && !VorHttp::exchangeRunning()) {
        QNetworkAccessManager manager;
        manager.setProxy(QNetworkProxy::NoProxy);
        VorHttp::exchange(manager, "DELETE", sessionUrl(s.webUrl, s.webPort), QByteArray(), s.token,
                          qMin(s.timeoutMs, 5000));
    }
    s.token.clear();
}

#include "HttpTransport.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QFile>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QStringList>
#include <QTimer>

namespace VorHttp {

namespace {
bool g_running = false;

struct Security
{
    bool on = false;
    QList<QSslCertificate> caCertificates; // empty: the system's store
};

Security &security()
{
    static Security s;
    return s;
}

struct RunningFlag
{
    RunningFlag() { g_running = true; }
    ~RunningFlag() { g_running = false; }
};

QString endpoint(const QUrl &url)
{
    return QStringLiteral("%1:%2").arg(url.host()).arg(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
}
} // namespace

bool setSecureTransport(bool on, const QString &caFile, QString *errorText)
{
    Security &s = security();
    s.on = on;
    s.caCertificates.clear();
    if (!on || caFile.isEmpty())
        return true;
    QFile f(caFile);
    if (f.open(QIODevice::ReadOnly))
        s.caCertificates = QSslCertificate::fromData(f.readAll(), QSsl::Pem);
    if (s.caCertificates.isEmpty()) {
        if (errorText)
            *errorText = QStringLiteral("O arquivo %1 não contém nenhum certificado de autoridade (PEM).").arg(caFile);
        return false;
    }
    return true;
}

bool secureTransport()
{
    return security().on;
}

QString transportScheme()
{
    return security().on ? QStringLiteral("https") : QStringLiteral("http");
}

bool exchangeRunning()
{
    return g_running;
}

QString secondsText(int milliseconds)
{
    const double seconds = milliseconds / 1000.0;
    QString number = QString::number(seconds, 'f', milliseconds % 1000 == 0 ? 0 : (milliseconds % 100 == 0 ? 1 : 3));
    number.replace(QLatin1Char('.'), QLatin1Char(','));
    return number + (seconds < 2.0 ? QStringLiteral(" segundo") : QStringLiteral(" segundos"));
}

Result exchange(QNetworkAccessManager &manager, const QByteArray &verb, const QUrl &url,
                const QByteArray &jsonBody, const QString &bearerToken, int timeoutMs,
                const QByteArray &ifNoneMatch)
{
    Result result;
    if (g_running) {
        // A timer or paint handler tried to call the server while a call waits:
        // nesting would interleave two screens' work, so it is refused.
        result.outcome = Result::Outcome::Busy;
        result.errorText = QStringLiteral("Já existe uma chamada ao servidor de aplicação em andamento; "
                                          "aguarde o seu término e tente novamente.");
        return result;
    }
    RunningFlag running;

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!bearerToken.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + bearerToken.toUtf8());
    if (!ifNoneMatch.isEmpty())
        request.setRawHeader("If-None-Match", ifNoneMatch);
    // Plain HTTP/1.1; gzip is asked for and undone by the access manager itself.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);

    if (url.scheme() == QLatin1String("https")) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!security().caCertificates.isEmpty())
            tls.setCaCertificates(security().caCertificates);
        request.setSslConfiguration(tls);
    }

    QPointer<QNetworkReply> reply = manager.sendCustomRequest(request, verb, jsonBody);
    QStringList tlsErrors;
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [&tlsErrors](const QList<QSslError> &errors) {
        for (const QSslError &e : errors)
            tlsErrors << e.errorString();
    });

    bool timedOut = false;
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // The owner of the access manager may be freed by a timer while we wait.
        QObject::connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&timedOut, &reply] {
            timedOut = true;
            if (reply)
                reply->abort();
        });
        const int waitMs = timeoutMs > 0 ? timeoutMs : 30000;
        // The limit is on silence, not on the whole transfer: a large answer
        // that keeps arriving is never cut, each piece restarts the wait.
        auto stillComing = [&timer, waitMs] { timer.start(waitMs); };
        QObject::connect(reply, &QNetworkReply::downloadProgress, &timer, stillComing);
        QObject::connect(reply, &QNetworkReply::uploadProgress, &timer, stillComing);
        timer.start(waitMs);
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!reply) {
        result.outcome = Result::Outcome::NetworkError;
        result.errorText = QStringLiteral("A conexão com o servidor de aplicação foi fechada durante a chamada.");
        return result;
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (timedOut) {
        result.outcome = Result::Outcome::Timeout;
        result.errorText = QStringLiteral("O servidor de aplicação não respondeu em %1.")
                               .arg(secondsText(timeoutMs > 0 ? timeoutMs : 30000));
    } else if (status.isValid() && status.toInt() > 0) {
        result.outcome = Result::Outcome::Answered;
        result.httpStatus = status.toInt();
        result.body = reply->readAll();
        result.etag = reply->rawHeader("ETag");
    } else {
        switch (reply->error()) {
        case QNetworkReply::SslHandshakeFailedError:
            result.outcome = Result::Outcome::ConnectionFailed;
            result.errorText = QStringLiteral("O certificado do servidor de aplicação em %1 não é confiável (%2). "
                                              "Confira o endereço ou informe a autoridade certificadora com --ca-file.")
                                   .arg(endpoint(url),
                                        tlsErrors.isEmpty() ? reply->errorString() : tlsErrors.join(QStringLiteral("; ")));
            break;
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::HostNotFoundError:
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::UnknownNetworkError:
            result.outcome = Result::Outcome::ConnectionFailed;
            result.errorText = QStringLiteral("Não foi possível conectar ao servidor de aplicação em %1.")
                                   .arg(endpoint(url));
            break;
        case QNetworkReply::TimeoutError:
            result.outcome = Result::Outcome::Timeout;
            result.errorText = QStringLiteral("O servidor de aplicação não respondeu em %1.")
                                   .arg(secondsText(timeoutMs > 0 ? timeoutMs : 30000));
            break;
        default:
            result.outcome = Result::Outcome::NetworkError;
            result.errorText = QStringLiteral("Falha na comunicação com o servidor de aplicação em %1 (%2).")
                                   .arg(endpoint(url), reply->errorString());
            break;
        }
    }
    reply->deleteLater();
    return result;
}

} // namespace VorHttp

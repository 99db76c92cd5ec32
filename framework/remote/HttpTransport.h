#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include "vorremote_export.h"

class QNetworkAccessManager;

// One synchronous HTTP exchange, shared by the session login and the server
// connection. The caller waits in a local event loop that excludes user input:
// paint and timers (the busy window) keep running, nothing the user does
// reaches the screens. Only one exchange may run at a time in the process.
namespace VorHttp {

struct Result
{
    enum class Outcome {
        Answered,          // an HTTP status came back (any status)
        Busy,              // another exchange is running: refused, never nested
        ConnectionFailed,  // refused, unreachable, host not found
        Timeout,           // no complete answer within the time limit
        NetworkError       // any other transport failure
    };
    Outcome outcome = Outcome::NetworkError;
    int httpStatus = 0;
    QByteArray body;
    QByteArray etag;       // the answer's validator (ETag), when it has one
    QString errorText;     // a sentence for the user when outcome != Answered
};

// `ifNoneMatch`: the validator of the answer the caller holds; the server
// answers 304 without a body when it is still current.
Result exchange(QNetworkAccessManager &manager, const QByteArray &verb, const QUrl &url,
                const QByteArray &jsonBody, const QString &bearerToken, int timeoutMs,
                const QByteArray &ifNoneMatch = {});

// True while an exchange is waiting for its answer.
bool exchangeRunning();

// Transport security for every exchange of the process. On: HTTPS, the
// server's certificate checked against the system's store, or against the
// certificates of caFile when one is given. False with a sentence when the
// file holds no certificate.
VORREMOTE_EXPORT bool setSecureTransport(bool on, const QString &caFile, QString *errorText);
VORREMOTE_EXPORT bool secureTransport();
// "https" or "http", for the addresses of the server.
VORREMOTE_EXPORT QString transportScheme();

// "0,5 segundo", "30 segundos".
QString secondsText(int milliseconds);

} // namespace VorHttp

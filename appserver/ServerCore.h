#pragma once

#include "AnswerCache.h"
#include "Auth.h"
#include "HttpReplies.h"
#include "LoginGate.h"
#include "Service.h"

#include <QByteArray>
#include <QJsonObject>
#include <QHash>
#include <QMutex>
#include <functional>

class Database;

// What the HTTP layer hands over and gets back; the core never sees a socket.
struct CoreRequest
{
    QByteArray method;        // "POST", "DELETE", ...
    QByteArray path;          // "/session", "/VOR01300.rdmConcAtivProje"
    QByteArray authorization; // the Authorization header, as sent
    QByteArray body;
    QByteArray peer; // the client's address; empty when unknown
    QByteArray ifNoneMatch; // the If-None-Match header, as sent
    bool pieces = false;    // a read's answer may come back in pieces (CoreResponse::answer)
};

// A request as known once its head has arrived, before any body is read.
struct CoreHead
{
    QByteArray method;
    QByteArray path;
    QByteArray authorization;
    QByteArray peer;
    bool admin = false; // came on the separate listener for health and metrics
};

enum class CoreRoute { Login, Logout, Rpc, Health, Metrics, Refused };

struct CoreResponse
{
    int status = 200;
    QByteArray body; // empty: no content
    QByteArray contentType = "application/json"; // exactly this, or the HTTP layer will not compress it
    int retryAfterSec = 0; // > 0: sent as Retry-After
    QByteArray etag;       // sent as ETag when not empty (a read's validator)
    // With CoreRequest::pieces, a read's answer is sent as body, then the
    // answer's payload (shared with the answer cache, never copied), then tail.
    std::shared_ptr<const EncodedAnswer> answer;
    QByteArray tail;
};

// What the core decides from a head: which route, how large the body may
// grow (after inflation), and the reply to send at once when the request is
// refused without its body being read.
struct CoreAdmission
{
    CoreRoute route = CoreRoute::Refused;
    qsizetype maxBody = 0;
    HttpRefusal tooLarge = HttpRefusal::TooLarge;
    std::optional<CoreResponse> refusal;
};

struct CoreLimits
{
    int hashingSlots = 1;          // password checks running at once
    int hashingWaitMs = 2000;      // a login waits this long for a slot, then gets 429
    int anonymousLogPerSec = 20;   // log lines of requests without a session...
    int anonymousLogBurst = 100;   // ...and how many may come at once
    int operatorLogPerSec = 50;    // log lines of one logged-in operator...
    int operatorLogBurst = 500;    // ...and how many may come at once
    bool health = true;            // GET /health, without a login
    bool metrics = true;           // GET /metrics, without a login
    bool adminListener = false;    // both only on the separate listener (and nothing else there)
    qint64 answerCacheBytes = 128LL * 1024 * 1024; // encoded answers of the reads kept for reuse
    LoginGatePolicy logins;
};

// The application server as a function from request bytes to response bytes:
// sessions at /session, JSON-RPC 2.0 at /<module name>. One JSON line per
// call goes to the log sink, every value in it cut to a bounded length; lines
// are written at a bounded rate, one budget for requests without a valid
// session and one per logged-in operator.
class ServerCore final
{
public:
    static constexpr qsizetype kMaxBody = 16 * 1024 * 1024;
    static constexpr int kMaxBatch = 100;
    static constexpr int kMaxIdLength = 256; // characters of a string id
    static constexpr qsizetype kMaxLoginBody = 8 * 1024; // a login's or logout's body
    using LogSink = std::function<void(const QByteArray &line)>;
    using MsClock = std::function<qint64()>;

    using Limits = CoreLimits;

    ServerCore(Database &db, SessionStore &sessions, LogSink log = {}, Service::Clock clock = {},
               MsClock msClock = {}, const Limits &limits = Limits());

    // Classifies a request from its head. Calls need a live session before
    // their body is read or inflated; only a login (small and bounded) is read
    // without one.
    CoreAdmission admit(const CoreHead &head);
    CoreResponse handle(const CoreRequest &request);
    static CoreResponse refusal(HttpRefusal which);
    // The reply to a login that finds the logins' queue full: the same 429
    // and sentence as the core's own refusals of logins.
    static CoreResponse loginBusy(int retryAfterSec = 1);
    // The core's part of /metrics, in the Prometheus text format.
    QByteArray metricsText() const;

    // Bounded forms of what goes to the log (shared with the tests).
    static QString cut(const QString &text, int max);
    static QJsonValue paramsForLog(const QJsonValue &params);

private:
    CoreResponse login(const CoreRequest &request);
    CoreResponse logout(const CoreRequest &request);
    CoreResponse rpc(const CoreRequest &request);
    CoreResponse health();
    // Counts a call's or a login's outcome for /metrics.
    void count(bool login, const QJsonValue &outcome, qint64 calls = 1);
    // One JSON-RPC call; an empty object for a notification.
    // With rawPayload, a payload the method wrote as JSON text is left there and
    // the reply holds null in its place (see withRawPayload); without, it is parsed in.
    // A call inside a batch is not logged on its own: it adds to `batch`, and
    // the batch is one line.
    struct BatchLog;
    // A lone call (not in a batch) may carry the client's validator: a read
    // whose answer has not changed since is answered `notModified`, and every
    // read's answer gets its validator in `etag`.
    struct Validation
    {
        QByteArray ifNoneMatch;
        QByteArray etag;
        bool notModified = false;
        std::shared_ptr<const EncodedAnswer> answer; // the read's answer, when it came from the cache's build
    };
    QJsonObject call(const QJsonValue &request, const std::optional<QString> &operatorCode,
                     QByteArray *rawPayload = nullptr, BatchLog *batch = nullptr, Validation *validation = nullptr);
    // A read's answer: from the answer cache when its data has not changed.
    MethodResult read(const MethodInfo &method, const QJsonArray &args, const QString &operatorCode,
                      Validation *validation);
    // `params` already bounded (paramsForLog or the server's own small object).
    void log(const QString &operatorCode, const QJsonValue &method, const QJsonValue &params, qint64 ms,
             const QJsonValue &outcome);

    void logBatch(const QString &operatorCode, qsizetype calls, const BatchLog &counts, qint64 ms);
    // Written when the budget of the operator (empty: requests without a
    // session) allows; what was dropped is counted on its next line.
    void writeLine(const QJsonObject &line, const QString &operatorCode);

    struct LogBudget
    {
        double tokens = 0;
        qint64 refillMs = 0;
        qint64 suppressed = 0;
    };

    Database &m_db;
    SessionStore &m_sessions;
    LogSink m_log;
    Service m_service;
    MsClock m_msClock;
    Limits m_limits;
    LoginGate m_gate;
    QMutex m_logMutex;
    LogBudget m_anonymousLog;
    QHash<QString, LogBudget> m_operatorLogs;
    mutable QMutex m_countMutex;
    QHash<QString, qint64> m_callOutcomes;  // "ok" or an error code
    QHash<QString, qint64> m_loginOutcomes; // "ok", "refused", "throttled", "invalid"
    AnswerCache m_answers;
    qint64 m_notModified = 0; // under m_countMutex
};

// Default sink: stderr, one whole line at a time.
void writeLogLineToStderr(const QByteArray &line);

#include "ServerCore.h"

#include "Contract.h"
#include "DataVersions.h"
#include "Database.h"
#include "RpcError.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <cctype>
#include <cstdio>
#include <map>

namespace {

QByteArray json(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

CoreResponse jsonResponse(int status, const QJsonObject &o)
{
    CoreResponse r;
    r.status = status;
    r.body = json(o);
    return r;
}

// Where a payload written as JSON text goes: the null of the reply's
// "payload":null. Inside a JSON text every quote of a string is escaped, so
// the first unescaped "payload":null is the reply's own key.
qsizetype payloadSlot(const QByteArray &body)
{
    static const QByteArray key = QByteArrayLiteral("\"payload\":null");
    const qsizetype at = body.indexOf(key);
    return at < 0 ? -1 : at + key.size() - 4;
}

CoreResponse withRawPayload(CoreResponse r, const QByteArray &raw)
{
    const qsizetype at = raw.isEmpty() ? -1 : payloadSlot(r.body);
    if (at >= 0)
        r.body.replace(at, 4, raw);
    return r;
}

// The same reply in pieces: the payload stays where the answer cache keeps it.
CoreResponse withAnswer(CoreResponse r, std::shared_ptr<const EncodedAnswer> answer)
{
    const qsizetype at = payloadSlot(r.body);
    if (at < 0)
        return withRawPayload(std::move(r), answer->payload);
    r.tail = r.body.mid(at + 4);
    r.body.truncate(at);
    r.answer = std::move(answer);
    return r;
}

// A payload written as JSON text, as a value (for replies built whole).
QJsonValue parsedPayload(const QByteArray &raw)
{
    const QJsonDocument doc = QJsonDocument::fromJson(raw);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

QByteArray payloadText(const QJsonValue &payload)
{
    if (payload.isArray())
        return QJsonDocument(payload.toArray()).toJson(QJsonDocument::Compact);
    if (payload.isObject())
        return QJsonDocument(payload.toObject()).toJson(QJsonDocument::Compact);
    return {};
}

CoreResponse httpError(int status, const QString &message)
{
    return jsonResponse(status, QJsonObject{{QStringLiteral("error"), message}});
}

QJsonObject rpcError(const QJsonValue &id, RpcCode code, const QString &message)
{
    return QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                       {QStringLiteral("id"), id},
                       {QStringLiteral("error"),
                        QJsonObject{{QStringLiteral("code"), int(code)}, {QStringLiteral("message"), message}}}};
}

const QString kBadLogin = QStringLiteral("Operador ou senha inválidos.");
const QString kNotLoggedIn = QStringLiteral("Sessão inexistente ou expirada. Entre novamente no sistema.");
const QString kDbFailure = QStringLiteral("Não foi possível acessar o banco de dados. Tente novamente.");

bool hasNul(const QString &text)
{
    return text.contains(QChar(u'\0'));
}

// Any text anywhere inside a packet holding a NUL character.
bool hasNul(const QJsonValue &value)
{
    if (value.isString())
        return hasNul(value.toString());
    if (value.isArray()) {
        for (const QJsonValue &v : value.toArray())
            if (hasNul(v))
                return true;
    } else if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            if (hasNul(it.key()) || hasNul(it.value()))
                return true;
    }
    return false;
}

constexpr int kLogText = 200;    // one text argument
constexpr int kLogName = 64;     // method names
constexpr int kLogOperator = 32; // operator codes as typed at the login
constexpr int kLogParams = 10;   // arguments of one call
constexpr int kLogError = 500;   // a database's or library's message

QByteArray bearerToken(const QByteArray &authorization)
{
    const QByteArray prefix = "Bearer ";
    if (!authorization.startsWith(prefix))
        return {};
    return authorization.mid(prefix.size()).trimmed();
}

} // namespace

QString ServerCore::cut(const QString &text, int max)
{
    if (text.size() <= max)
        return text;
    return text.left(max) + QStringLiteral("…[+%1]").arg(text.size() - max);
}

// Big packets are logged by their size only, long texts and lists cut.
QJsonValue ServerCore::paramsForLog(const QJsonValue &params)
{
    if (params.isObject())
        return QJsonObject{{QStringLiteral("named"), params.toObject().size()}};
    if (!params.isArray())
        return params.isString() ? QJsonValue(cut(params.toString(), kLogText)) : params;
    const QJsonArray in = params.toArray();
    QJsonArray out;
    for (qsizetype i = 0; i < in.size() && i < kLogParams; ++i) {
        const QJsonValue v = in.at(i);
        if (v.isObject()) {
            const QJsonObject o = v.toObject();
            out.append(QJsonObject{{QStringLiteral("packet"), true},
                                   {QStringLiteral("changes"), o.value(QStringLiteral("changes")).toArray().size()},
                                   {QStringLiteral("rows"), o.value(QStringLiteral("rows")).toArray().size()}});
        } else if (v.isArray()) {
            out.append(QJsonObject{{QStringLiteral("list"), v.toArray().size()}});
        } else if (v.isString()) {
            out.append(cut(v.toString(), kLogText));
        } else {
            out.append(v);
        }
    }
    if (in.size() > kLogParams)
        out.append(QStringLiteral("…[+%1]").arg(in.size() - kLogParams));
    return out;
}

void writeLogLineToStderr(const QByteArray &line)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

ServerCore::ServerCore(Database &db, SessionStore &sessions, LogSink log, Service::Clock clock, MsClock msClock,
                       const Limits &limits)
    : m_db(db), m_sessions(sessions), m_log(std::move(log)), m_service(db, std::move(clock)),
      m_msClock(std::move(msClock)), m_limits(limits),
      m_gate(db, m_msClock, limits.logins, limits.hashingSlots, limits.hashingWaitMs),
      m_answers(limits.answerCacheBytes)
{
    if (!m_log)
        m_log = writeLogLineToStderr;
    if (!m_msClock)
        m_msClock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    m_anonymousLog.tokens = m_limits.anonymousLogBurst;
    m_anonymousLog.refillMs = m_msClock();
}

void ServerCore::log(const QString &operatorCode, const QJsonValue &method, const QJsonValue &params, qint64 ms,
                     const QJsonValue &outcome)
{
    const QString name = method.toString();
    if (name != QLatin1String("DELETE /session"))
        count(name == QLatin1String("POST /session"), outcome);
    QJsonObject line{{QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                     {QStringLiteral("operator"), operatorCode.isEmpty() ? QJsonValue() : QJsonValue(cut(operatorCode, kLogOperator))},
                     {QStringLiteral("method"), method.isString() ? QJsonValue(cut(method.toString(), kLogName)) : method},
                     {QStringLiteral("params"), params},
                     {QStringLiteral("ms"), ms},
                     {QStringLiteral("outcome"), outcome}};
    writeLine(line, operatorCode);
}

// Each line spends a token of its budget; tokens come back at the configured
// rate. What was dropped is counted on the next line written.
void ServerCore::writeLine(const QJsonObject &line, const QString &operatorCode)
{
    qint64 dropped = 0;
    {
        QMutexLocker lock(&m_logMutex);
        const bool anonymous = operatorCode.isEmpty();
        const double burst = anonymous ? m_limits.anonymousLogBurst : m_limits.operatorLogBurst;
        const double perSec = anonymous ? m_limits.anonymousLogPerSec : m_limits.operatorLogPerSec;
        const qint64 now = m_msClock();
        LogBudget *budget = &m_anonymousLog;
        if (!anonymous) {
            // Only logged-in operators have a budget of their own: their
            // number is bounded by the operator table.
            auto it = m_operatorLogs.find(operatorCode);
            if (it == m_operatorLogs.end())
                it = m_operatorLogs.insert(operatorCode, LogBudget{burst, now, 0});
            budget = &it.value();
        }
        budget->tokens = std::min<double>(burst, budget->tokens + double(now - budget->refillMs) * perSec / 1000.0);
        budget->refillMs = now;
        if (budget->tokens < 1.0) {
            ++budget->suppressed;
            return;
        }
        budget->tokens -= 1.0;
        dropped = std::exchange(budget->suppressed, 0);
    }
    if (dropped > 0)
        m_log(json(QJsonObject{{QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                               {QStringLiteral("suppressed"), dropped}}));
    m_log(json(line));
}

// One line for a whole batch: how many calls of each method (the first few
// names, each cut) and how many of each outcome.
struct ServerCore::BatchLog
{
    static constexpr int kMaxNames = 10;
    std::map<QString, int> methods;
    int otherMethods = 0;
    std::map<QString, int> outcomes;

    void add(const QJsonValue &method, const QJsonValue &outcome)
    {
        const QString name = method.isString() ? cut(method.toString(), kLogName) : QStringLiteral("(none)");
        if (methods.count(name) || int(methods.size()) < kMaxNames)
            ++methods[name];
        else
            ++otherMethods;
        ++outcomes[outcome.isString() ? outcome.toString() : QString::number(outcome.toInt())];
    }
};

CoreResponse ServerCore::refusal(HttpRefusal which)
{
    const HttpRefusalReply r = httpRefusal(which);
    CoreResponse response;
    response.status = r.status;
    response.body = httpRefusalBody(which);
    response.retryAfterSec = r.retryAfterSec;
    return response;
}

CoreResponse ServerCore::loginBusy(int retryAfterSec)
{
    return LoginGate::tooMany(qint64(retryAfterSec) * 1000);
}

CoreAdmission ServerCore::admit(const CoreHead &head)
{
    CoreAdmission a;
    const QByteArray rpcPath = "/" + QByteArray(kContractModuleName);
    const bool probe = (head.path == "/health" && m_limits.health) || (head.path == "/metrics" && m_limits.metrics);
    if (m_limits.adminListener && (head.admin || probe) && !(head.admin && probe)) {
        // The separate listener serves the probes only, and only it serves them.
        a.refusal = refusal(HttpRefusal::NotFound);
        return a;
    }
    if (probe) {
        if (head.method != "GET") {
            a.refusal = refusal(HttpRefusal::MethodNotAllowed);
            return a;
        }
        a.route = head.path == "/health" ? CoreRoute::Health : CoreRoute::Metrics;
        return a;
    }
    if (head.path == "/session" && (head.method == "POST" || head.method == "DELETE")) {
        a.route = head.method == "POST" ? CoreRoute::Login : CoreRoute::Logout;
        a.maxBody = kMaxLoginBody;
        a.tooLarge = HttpRefusal::LoginTooLarge;
        if (a.route == CoreRoute::Logout) {
            const QByteArray token = bearerToken(head.authorization);
            if (token.isEmpty() || !m_sessions.touch(token)) {
                log(QString(), QStringLiteral("DELETE /session"), QJsonValue(), 0, 401);
                a.refusal = httpError(401, QStringLiteral("Sessão inexistente ou expirada."));
            }
        }
        return a;
    }
    if (head.path == rpcPath && head.method == "POST") {
        a.route = CoreRoute::Rpc;
        a.maxBody = kMaxBody;
        const QByteArray token = bearerToken(head.authorization);
        if (token.isEmpty() || !m_sessions.touch(token)) {
            // The body is not read: its ids are unknown, so the one reply has none.
            log(QString(), QJsonValue(), QJsonValue(), 0, int(RpcCode::NotLoggedIn));
            a.refusal = jsonResponse(200, rpcError(QJsonValue(), RpcCode::NotLoggedIn, kNotLoggedIn));
        }
        return a;
    }
    a.refusal = refusal(head.path == "/session" || head.path == rpcPath ? HttpRefusal::MethodNotAllowed
                                                                        : HttpRefusal::NotFound);
    return a;
}

CoreResponse ServerCore::handle(const CoreRequest &request)
{
    if (request.body.size() > kMaxBody)
        return refusal(HttpRefusal::TooLarge);
    const QByteArray rpcPath = "/" + QByteArray(kContractModuleName);
    if (request.method == "GET" && request.path == "/health" && m_limits.health)
        return health();
    if (request.method == "GET" && request.path == "/metrics" && m_limits.metrics) {
        CoreResponse r;
        r.body = metricsText();
        r.contentType = "text/plain; version=0.0.4";
        return r;
    }
    if (request.path == "/session") {
        if (request.body.size() > kMaxLoginBody)
            return refusal(HttpRefusal::LoginTooLarge);
        if (request.method == "POST")
            return login(request);
        if (request.method == "DELETE")
            return logout(request);
        return refusal(HttpRefusal::MethodNotAllowed);
    }
    if (request.path == rpcPath) {
        if (request.method == "POST")
            return rpc(request);
        return refusal(HttpRefusal::MethodNotAllowed);
    }
    return refusal(HttpRefusal::NotFound);
}

// Whether the database answers, for a load balancer: no login, no details.
CoreResponse ServerCore::health()
{
    try {
        Sql q(m_db.connection(), QStringLiteral("SELECT 1"));
        q.exec();
        if (q.next())
            return jsonResponse(200, QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}});
    } catch (const DbError &) {
    }
    return jsonResponse(503, QJsonObject{{QStringLiteral("status"), QStringLiteral("database unavailable")}});
}

void ServerCore::count(bool login, const QJsonValue &outcome, qint64 calls)
{
    QString key;
    if (outcome.isString())
        key = outcome.toString();
    else if (login)
        key = outcome.toInt() == 429 ? QStringLiteral("throttled")
              : outcome.toInt() == 401 ? QStringLiteral("refused")
                                       : QStringLiteral("invalid");
    else
        key = QString::number(outcome.toInt());
    QMutexLocker lock(&m_countMutex);
    (login ? m_loginOutcomes : m_callOutcomes)[key] += calls;
}

QByteArray ServerCore::metricsText() const
{
    QByteArray out;
    auto family = [&out](const char *name, const char *type, const char *help, const QHash<QString, qint64> &values,
                         const char *label) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
        QStringList keys = values.keys();
        keys.sort();
        for (const QString &k : std::as_const(keys))
            out += QByteArray(name) + '{' + label + "=\"" + k.toUtf8() + "\"} " + QByteArray::number(values.value(k)) + '\n';
    };
    QMutexLocker lock(&m_countMutex);
    family("vor_rpc_calls_total", "counter", "JSON-RPC calls run, by outcome (ok or the error code).", m_callOutcomes,
           "outcome");
    family("vor_logins_total", "counter", "Logins, by outcome (ok, refused, throttled, invalid).", m_loginOutcomes,
           "outcome");
    auto single = [&out](const char *name, const char *type, const char *help, qint64 value) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n' + name + ' '
               + QByteArray::number(value) + '\n';
    };
    single("vor_not_modified_total", "counter", "Reads answered 304: the client's copy was still current.",
           m_notModified);
    const AnswerCache::Stats cache = m_answers.stats();
    single("vor_answer_cache_builds_total", "counter", "Answers of the reads built from the database.", cache.builds);
    single("vor_answer_cache_hits_total", "counter", "Answers of the reads taken from the cache (or another call's build).",
           cache.hits);
    single("vor_answer_cache_evictions_total", "counter", "Answers dropped to stay within the cache's bound.",
           cache.evicted);
    single("vor_answer_cache_bytes", "gauge", "Bytes held by the answer cache.", cache.bytes);
    single("vor_answer_cache_entries", "gauge", "Answers held by the answer cache.", cache.entries);
    return out;
}

CoreResponse ServerCore::login(const CoreRequest &request)
{
    QElapsedTimer timer;
    timer.start();
    const QJsonDocument doc = QJsonDocument::fromJson(request.body);
    const QJsonObject body = doc.object();
    const QJsonValue opValue = body.value(QStringLiteral("operator"));
    const QJsonValue pwValue = body.value(QStringLiteral("password"));
    const QJsonValue method = QStringLiteral("POST /session");
    if (!doc.isObject() || !opValue.isString() || !pwValue.isString()) {
        log(QString(), method, QJsonValue(), timer.elapsed(), 400);
        return httpError(400, QStringLiteral("Informe operador e senha."));
    }
    const QString code = opValue.toString();
    const QJsonObject logParams{{QStringLiteral("operator"), cut(code, kLogOperator)}};
    if (hasNul(code) || hasNul(pwValue.toString())) {
        log(QString(), method, logParams, timer.elapsed(), 400);
        return httpError(400, QStringLiteral("Operador ou senha com caractere inválido."));
    }
    LoginGate::Verdict verdict;
    try {
        verdict = m_gate.attempt(code, request.peer, pwValue.toString());
    } catch (const DbError &e) {
        log(QString(), method, QJsonArray{logParams, cut(QString::fromUtf8(e.what()), kLogError)}, timer.elapsed(), 500);
        return httpError(500, kDbFailure);
    }
    if (verdict.outcome == LoginGate::Outcome::Throttled || verdict.outcome == LoginGate::Outcome::Busy) {
        log(QString(), method, logParams, timer.elapsed(), 429);
        return LoginGate::tooMany(verdict.waitMs);
    }
    if (verdict.outcome != LoginGate::Outcome::Accepted) {
        log(QString(), method, logParams, timer.elapsed(), 401);
        return httpError(401, kBadLogin);
    }
    const QByteArray token = m_sessions.open(code);
    log(code, method, logParams, timer.elapsed(), QStringLiteral("ok"));
    return jsonResponse(200, QJsonObject{{QStringLiteral("token"), QString::fromLatin1(token)},
                                         {QStringLiteral("operator"), code},
                                         {QStringLiteral("name"), verdict.name}});
}

CoreResponse ServerCore::logout(const CoreRequest &request)
{
    const QByteArray token = bearerToken(request.authorization);
    const std::optional<QString> op = token.isEmpty() ? std::nullopt : m_sessions.touch(token);
    const QJsonValue method = QStringLiteral("DELETE /session");
    if (!op) {
        log(QString(), method, QJsonValue(), 0, 401);
        return httpError(401, QStringLiteral("Sessão inexistente ou expirada."));
    }
    m_sessions.close(token);
    log(*op, method, QJsonValue(), 0, QStringLiteral("ok"));
    CoreResponse r;
    r.status = 204;
    return r;
}

CoreResponse ServerCore::rpc(const CoreRequest &request)
{
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError) {
        // A lone scalar is valid JSON but not a request. A body opening an
        // object or array cannot be one, so only other bodies are read again.
        qsizetype first = 0;
        while (first < request.body.size() && std::isspace(static_cast<unsigned char>(request.body.at(first))))
            ++first;
        const char opening = first < request.body.size() ? request.body.at(first) : '\0';
        bool scalar = false;
        if (opening != '{' && opening != '[') {
            const QJsonDocument wrapped = QJsonDocument::fromJson("[" + request.body + "]", &error);
            scalar = error.error == QJsonParseError::NoError && wrapped.array().size() == 1;
        }
        log(QString(), QJsonValue(), QJsonValue(), 0, int(scalar ? RpcCode::InvalidRequest : RpcCode::ParseError));
        return jsonResponse(200, scalar ? rpcError(QJsonValue(), RpcCode::InvalidRequest, QStringLiteral("Requisição inválida."))
                                        : rpcError(QJsonValue(), RpcCode::ParseError,
                                                   QStringLiteral("A requisição não é um JSON válido.")));
    }
    const QByteArray token = bearerToken(request.authorization);
    const std::optional<QString> op = token.isEmpty() ? std::nullopt : m_sessions.touch(token);

    if (doc.isArray()) {
        const QJsonArray batch = doc.array();
        if (batch.isEmpty()) {
            log(op.value_or(QString()), QJsonValue(), QJsonValue(), 0, int(RpcCode::InvalidRequest));
            return jsonResponse(200, rpcError(QJsonValue(), RpcCode::InvalidRequest,
                                              QStringLiteral("Requisição inválida: lote vazio.")));
        }
        if (batch.size() > kMaxBatch) {
            log(op.value_or(QString()), QJsonValue(), QJsonObject{{QStringLiteral("batch"), batch.size()}}, 0,
                int(RpcCode::InvalidRequest));
            return jsonResponse(200, rpcError(QJsonValue(), RpcCode::InvalidRequest,
                                              QStringLiteral("Requisição inválida: o lote tem %1 chamadas; o máximo é %2.")
                                                  .arg(batch.size())
                                                  .arg(kMaxBatch)));
        }
        QJsonArray replies;
        QElapsedTimer timer;
        timer.start();
        BatchLog counts;
        for (const QJsonValue &item : batch) {
            const QJsonObject reply = call(item, op, nullptr, &counts);
            if (!reply.isEmpty())
                replies.append(reply);
        }
        logBatch(op.value_or(QString()), qsizetype(batch.size()), counts, timer.elapsed());
        if (replies.isEmpty())
            return CoreResponse{204, {}, {}, 0, {}};
        CoreResponse r;
        r.body = QJsonDocument(replies).toJson(QJsonDocument::Compact);
        return r;
    }
    QByteArray raw;
    Validation validation;
    validation.ifNoneMatch = request.ifNoneMatch;
    const QJsonObject reply = call(doc.object(), op, &raw, nullptr, &validation);
    if (validation.notModified) {
        CoreResponse r;
        r.status = 304;
        r.etag = validation.etag;
        return r;
    }
    if (reply.isEmpty())
        return CoreResponse{204, {}, {}, 0, {}};
    CoreResponse r = request.pieces && validation.answer && !raw.isEmpty()
                         ? withAnswer(jsonResponse(200, reply), validation.answer)
                         : withRawPayload(jsonResponse(200, reply), raw);
    r.etag = validation.etag;
    return r;
}

MethodResult ServerCore::read(const MethodInfo &method, const QJsonArray &args, const QString &operatorCode,
                              Validation *validation)
{
    const unsigned deps = Service::dependsOn(method.name);
    // Read before the answer is built: an answer is never older than the
    // versions it is filed under (a write in between only makes it newer,
    // and the next read sees the newer versions).
    QSqlDatabase db = m_db.connection();
    const DataVersions::Stamp stamp = DataVersions::read(db, args.at(0).toString(), args.at(1).toString());
    const QByteArray tag = DataVersions::etag(stamp, deps, method.name, args);
    if (validation) {
        validation->etag = tag;
        if (DataVersions::matches(validation->ifNoneMatch, tag)) {
            validation->notModified = true;
            QMutexLocker lock(&m_countMutex);
            ++m_notModified;
            return {};
        }
    }
    const AnswerCache::Answer answer = m_answers.get(tag, [&] {
        MethodResult built = m_service.call(method, args, operatorCode);
        EncodedAnswer encoded;
        encoded.payload = built.rawPayload.isEmpty() ? payloadText(built.payload) : std::move(built.rawPayload);
        encoded.byref = built.byref;
        encoded.hasByref = built.hasByref;
        return encoded;
    });
    if (validation)
        validation->answer = answer;
    MethodResult r;
    r.rawPayload = answer->payload;
    r.byref = answer->byref;
    r.hasByref = answer->hasByref;
    return r;
}

void ServerCore::logBatch(const QString &operatorCode, qsizetype calls, const BatchLog &counts, qint64 ms)
{
    QJsonObject methods, outcomes;
    for (const auto &[name, n] : counts.methods)
        methods.insert(name, n);
    if (counts.otherMethods > 0)
        methods.insert(QStringLiteral("…"), counts.otherMethods);
    for (const auto &[name, n] : counts.outcomes) {
        outcomes.insert(name, n);
        count(false, name == QLatin1String("ok") ? QJsonValue(name) : QJsonValue(name.toInt()), n);
    }
    writeLine(QJsonObject{{QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                          {QStringLiteral("operator"), operatorCode.isEmpty() ? QJsonValue()
                                                                              : QJsonValue(cut(operatorCode, kLogOperator))},
                          {QStringLiteral("batch"), calls},
                          {QStringLiteral("methods"), methods},
                          {QStringLiteral("ms"), ms},
                          {QStringLiteral("outcomes"), outcomes}},
              operatorCode);
}

QJsonObject ServerCore::call(const QJsonValue &requestValue, const std::optional<QString> &operatorCode,
                             QByteArray *rawPayload, BatchLog *batch, Validation *validation)
{
    QElapsedTimer timer;
    timer.start();
    const QString who = operatorCode.value_or(QString());
    if (!requestValue.isObject()) {
        if (batch)
            batch->add(QJsonValue(), int(RpcCode::InvalidRequest));
        else
            log(who, QJsonValue(), QJsonValue(), 0, int(RpcCode::InvalidRequest));
        return rpcError(QJsonValue(), RpcCode::InvalidRequest, QStringLiteral("Requisição inválida."));
    }
    const QJsonObject request = requestValue.toObject();
    const QJsonValue idValue = request.value(QStringLiteral("id"));
    const bool notification = idValue.isUndefined();
    // An id is repeated in the reply: one longer than any client uses is
    // refused (and not repeated), so that no reply grows with what was sent.
    const bool idOk = notification || (idValue.isString() && idValue.toString().size() <= kMaxIdLength)
                      || idValue.isDouble() || idValue.isNull();
    const QJsonValue id = idOk && !notification ? idValue : QJsonValue();
    if (notification)
        validation = nullptr; // nothing is answered, not even a validator
    const QJsonValue methodValue = request.value(QStringLiteral("method"));
    const QJsonValue params = request.value(QStringLiteral("params"));

    QJsonObject reply;
    QJsonValue outcome = QStringLiteral("ok");
    try {
        if (request.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0") || !idOk
            || !methodValue.isString()
            || !(params.isUndefined() || params.isArray() || params.isObject()))
            throw RpcError(RpcCode::InvalidRequest, QStringLiteral("Requisição inválida."));
        if (!operatorCode)
            throw RpcError(RpcCode::NotLoggedIn, kNotLoggedIn);
        const MethodInfo *method = findMethod(methodValue.toString());
        if (!method)
            throw RpcError(RpcCode::MethodNotFound,
                           QStringLiteral("Método desconhecido: %1.").arg(methodValue.toString().left(100)));
        if (params.isObject())
            throw RpcError(RpcCode::InvalidParams,
                           QStringLiteral("Os argumentos de %1 devem ser posicionais.").arg(method->name));
        const QJsonArray args = params.toArray();
        if (args.size() != method->argCount)
            throw RpcError(RpcCode::InvalidParams, QStringLiteral("%1 espera %2 argumento(s), recebeu %3.")
                                                       .arg(method->name)
                                                       .arg(method->argCount)
                                                       .arg(args.size()));
        for (int i = 0; i < method->argCount; ++i) {
            const bool packet = method->argKinds[i] == ContractArgKind::Packet;
            if (packet ? !args.at(i).isObject() : !args.at(i).isString())
                throw RpcError(RpcCode::InvalidParams,
                               QStringLiteral("O argumento %1 (%2) de %3 deve ser %4.")
                                   .arg(i + 1)
                                   .arg(method->argNames[i], method->name,
                                        packet ? QStringLiteral("um pacote de dados") : QStringLiteral("um texto")));
            // Refused here, the same on every database (some cannot store it at all).
            if (hasNul(args.at(i)))
                throw RpcError(RpcCode::InvalidParams, QStringLiteral("O argumento %1 (%2) de %3 contém o caractere NUL.")
                                                           .arg(i + 1)
                                                           .arg(method->argNames[i], method->name));
        }
        const MethodResult result = Service::isRead(method->name)
                                        ? read(*method, args, *operatorCode, validation)
                                        : m_service.call(*method, args, *operatorCode);
        if (validation && validation->notModified) {
            outcome = QStringLiteral("not-modified"); // the reply is the validator alone
        } else {
            QJsonValue payload = result.payload;
            if (!result.rawPayload.isEmpty()) {
                if (rawPayload) {
                    *rawPayload = result.rawPayload;
                    payload = QJsonValue();
                } else {
                    payload = parsedPayload(result.rawPayload);
                }
            }
            QJsonObject envelope{{QStringLiteral("payload"), payload}};
            if (result.hasByref)
                envelope.insert(QStringLiteral("byref"), result.byref);
            reply = QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                {QStringLiteral("id"), id},
                                {QStringLiteral("result"), envelope}};
        }
    } catch (const RpcError &e) {
        if (validation)
            validation->etag.clear(), validation->answer.reset();
        outcome = int(e.code());
        reply = rpcError(id, e.code(), e.message());
    } catch (const DbError &e) {
        if (validation)
            validation->etag.clear(), validation->answer.reset();
        outcome = int(RpcCode::DatabaseError);
        reply = rpcError(id, RpcCode::DatabaseError, kDbFailure);
        writeLine(QJsonObject{{QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                              {QStringLiteral("databaseError"), cut(QString::fromUtf8(e.what()), kLogError)}},
                  who);
    } catch (const std::exception &e) {
        if (validation)
            validation->etag.clear(), validation->answer.reset();
        outcome = int(RpcCode::InternalError);
        reply = rpcError(id, RpcCode::InternalError, QStringLiteral("Erro interno do servidor."));
        writeLine(QJsonObject{{QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                              {QStringLiteral("internalError"), cut(QString::fromUtf8(e.what()), kLogError)}},
                  who);
    }
    if (batch)
        batch->add(methodValue, outcome);
    else
        log(who, methodValue.isString() ? methodValue : QJsonValue(),
            params.isUndefined() ? QJsonValue() : paramsForLog(params), timer.elapsed(), outcome);
    // A notification gets no reply, whatever happened (JSON-RPC 2.0 §4.1);
    // a request too broken to tell is answered.
    if (notification && request.value(QStringLiteral("jsonrpc")).toString() == QLatin1String("2.0")
        && methodValue.isString())
        return {};
    return reply;
}

// The JSON-RPC layer and sessions, bytes in and bytes out: bad requests,
// notifications, batches, tokens, hostile strings, the request log.
#include "Harness.h"

class TestRpc : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOR_REQUIRE_TEST_BACKEND(); m_h = std::make_unique<Harness>(); m_token = m_h->login("ANA", "ana123"); QVERIFY(!m_token.isEmpty()); }
    void badRequests_data();
    void badRequests();
    void notificationsAndBatches();
    void httpLevel();
    void loginRefusalsLookAlike();
    void tokensExpireAndEnd();
    void hostileStringsInEveryArgument();
    void logLines();
    void absoluteSessionLifetime();
    void batchLimit();
    void logValuesBounded();
    void anonymousLinesRateLimited();
    void operatorLinesRateLimited();
    void longIdsAreNotRepeated();
    void loginSlowdownAndReset();
    void nulRefusedEverywhere();

private:
    std::unique_ptr<Harness> m_h;
    QByteArray m_token;
};

void TestRpc::badRequests_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("withToken");
    QTest::addColumn<int>("code");

    auto req = [](const QByteArray &method, const QByteArray &params) -> QByteArray {
        return R"({"jsonrpc":"2.0","id":1,"method":")" + method + R"(","params":)" + params + "}";
    };
    QTest::newRow("malformed JSON") << QByteArray(R"({"jsonrpc":"2.0",)") << true << -32700;
    QTest::newRow("not JSON at all") << QByteArray("hello") << true << -32700;
    QTest::newRow("scalar") << QByteArray("42") << true << -32600;
    QTest::newRow("empty batch") << QByteArray("[]") << true << -32600;
    QTest::newRow("no jsonrpc") << QByteArray(R"({"id":1,"method":"getProjeto","params":[]})") << true << -32600;
    QTest::newRow("jsonrpc 1.0") << QByteArray(R"({"jsonrpc":"1.0","id":1,"method":"getProjeto","params":[]})") << true << -32600;
    QTest::newRow("method number") << QByteArray(R"({"jsonrpc":"2.0","id":1,"method":5,"params":[]})") << true << -32600;
    QTest::newRow("id object") << QByteArray(R"({"jsonrpc":"2.0","id":{},"method":"getProjeto","params":[]})") << true << -32600;
    QTest::newRow("params string") << req("getProjeto", R"("0001")") << true << -32600;
    QTest::newRow("no token") << req("getProjeto", R"(["0001","","T"])") << false << -32001;
    QTest::newRow("unknown method") << req("dropEverything", "[]") << true << -32601;
    QTest::newRow("method case") << req("getprojeto", R"(["0001","","T"])") << true << -32601;
    QTest::newRow("named params") << req("getProjeto", R"({"CDFILIAL":"0001"})") << true << -32602;
    QTest::newRow("too few") << req("getProjeto", R"(["0001",""])") << true << -32602;
    QTest::newRow("too many") << req("getConcAtivPro", R"(["0001","0000000001","x"])") << true << -32602;
    QTest::newRow("missing params") << QByteArray(R"({"jsonrpc":"2.0","id":1,"method":"getCSAAux"})") << true << -32602;
    QTest::newRow("number argument") << req("getConcAtivPro", R"([1,"0000000001"])") << true << -32602;
    QTest::newRow("null argument") << req("getConcAtivPro", R"(["0001",null])") << true << -32602;
    QTest::newRow("packet as text") << req("setAprovaAtividades", R"(["{}"])") << true << -32602;
    QTest::newRow("text as packet") << req("getCSAAux", R"([{},"x"])") << true << -32602;
    QTest::newRow("project flag") << req("getProjeto", R"(["0001","","X"])") << true << -32602;
    QTest::newRow("operator flag") << req("getFiltroOper", R"(["0001","0000000001","","all"])") << true << -32602;
    const QByteArray f = R"("0001","0000000001",)";
    QTest::newRow("situation empty") << req("getFiltroConcAtiv", "[" + f + R"("","T","","T","","_A"])") << true << -32602;
    QTest::newRow("situation odd") << req("getFiltroConcAtiv", "[" + f + R"("","T","","T","_X","_A"])") << true << -32602;
    QTest::newRow("situation reversed") << req("getFiltroConcAtiv", "[" + f + R"("","T","","T","_C_A","_A"])") << true << -32602;
    QTest::newRow("status empty") << req("getFiltroConcAtiv", "[" + f + R"("","T","","T","_A",""])") << true << -32602;
    QTest::newRow("status odd") << req("getFiltroConcAtiv", "[" + f + R"("","T","","T","_A","_A_C"])") << true << -32602;
    QTest::newRow("all-flag odd") << req("getFiltroConcAtiv", "[" + f + R"("","t","","T","_A","_A"])") << true << -32602;
    QTest::newRow("item list empty") << req("getFiltroConcAtiv", "[" + f + R"("","","","T","_A","_A"])") << true << -32602;
    QTest::newRow("operator list empty") << req("getFiltroConcAtiv", "[" + f + R"("","T","","","_A","_A"])") << true << -32602;
    QTest::newRow("list unquoted") << req("getFiltroConcAtiv", "[" + f + R"("","T","ANA,BIA","","_A","_A"])") << true << -32602;
    QTest::newRow("list unclosed") << req("getFiltroConcAtiv", "[" + f + R"("","T","'ANA","","_A","_A"])") << true << -32602;
    QTest::newRow("list gap") << req("getFiltroConcAtiv", "[" + f + R"("","T","'ANA',,'BIA'","","_A","_A"])") << true << -32602;
    QTest::newRow("list spaces") << req("getFiltroConcAtiv", "[" + f + R"("","T","'ANA', 'BIA'","","_A","_A"])") << true << -32602;
    QTest::newRow("list trailing comma") << req("getFiltroConcAtiv", "[" + f + R"("","T","'ANA',","","_A","_A"])") << true << -32602;
    QTest::newRow("list injection") << req("getFiltroConcAtiv", "[" + f + R"("","T","'A') OR 1=1 --","","_A","_A"])") << true << -32602;
}

void TestRpc::badRequests()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, withToken);
    QFETCH(int, code);
    const CoreResponse r = m_h->request("POST", m_h->rpcPath(), body, withToken ? m_token : QByteArray());
    QCOMPARE(r.status, 200);
    const QJsonObject reply = QJsonDocument::fromJson(r.body).object();
    QCOMPARE(reply.value("jsonrpc").toString(), QStringLiteral("2.0"));
    QVERIFY(reply.contains("id"));
    QVERIFY(!reply.contains("result"));
    QCOMPARE(Harness::errorCode(reply), code);
    const QString message = reply.value("error").toObject().value("message").toString();
    QVERIFY(!message.isEmpty());
    QVERIFY2(!message.contains("QSQLITE") && !message.contains("SQL"), qPrintable(message));
}

void TestRpc::notificationsAndBatches()
{
    // A notification is answered with nothing at all, even when it fails.
    CoreResponse r = m_h->request("POST", m_h->rpcPath(),
                                  R"({"jsonrpc":"2.0","method":"getProjeto","params":["0001","","T"]})", m_token);
    QCOMPARE(r.status, 204);
    QVERIFY(r.body.isEmpty());
    r = m_h->request("POST", m_h->rpcPath(), R"({"jsonrpc":"2.0","method":"nope","params":[]})", m_token);
    QCOMPARE(r.status, 204);

    r = m_h->request("POST", m_h->rpcPath(),
                     R"([{"jsonrpc":"2.0","id":"a","method":"getProjeto","params":["0001","","T"]},
                         {"jsonrpc":"2.0","method":"getProjeto","params":["0001","","T"]},
                         7,
                         {"jsonrpc":"2.0","id":3,"method":"nope","params":[]},
                         {"jsonrpc":"2.0","id":null,"method":"getCSAAux","params":["0001"]}])",
                     m_token);
    QCOMPARE(r.status, 200);
    const QJsonArray replies = QJsonDocument::fromJson(r.body).array();
    QCOMPARE(replies.size(), 4);
    QCOMPARE(replies[0].toObject().value("id").toString(), QStringLiteral("a"));
    QCOMPARE(Harness::rows(replies[0].toObject()).size(), 2);
    QCOMPARE(Harness::errorCode(replies[1].toObject()), -32600);
    QVERIFY(replies[1].toObject().value("id").isNull());
    QCOMPARE(replies[2].toObject().value("id").toInt(), 3);
    QCOMPARE(Harness::errorCode(replies[2].toObject()), -32601);
    QCOMPARE(Harness::errorCode(replies[3].toObject()), -32602);

    r = m_h->request("POST", m_h->rpcPath(), R"([{"jsonrpc":"2.0","method":"getProjeto","params":["0001","","T"]}])", m_token);
    QCOMPARE(r.status, 204);
}

void TestRpc::httpLevel()
{
    QCOMPARE(m_h->request("GET", m_h->rpcPath(), {}, m_token).status, 405);
    QCOMPARE(m_h->request("POST", "/other", "{}", m_token).status, 404);
    QCOMPARE(m_h->request("POST", "/session", "not json").status, 400);
    QByteArray huge(ServerCore::kMaxBody + 1, ' ');
    QCOMPARE(m_h->request("POST", m_h->rpcPath(), huge, m_token).status, 413);
    QCOMPARE(m_h->request("POST", "/session", QByteArray(ServerCore::kMaxLoginBody + 1, ' ')).status, 413);

    // From the head alone: which route, how large its body may be, and what
    // is refused before any body is read (calls without a live session).
    auto admit = [this](const char *method, const QByteArray &path, const QByteArray &token = {}) {
        return m_h->core->admit(CoreHead{method, path, token.isEmpty() ? QByteArray() : "Bearer " + token, "127.0.0.1"});
    };
    const CoreAdmission call = admit("POST", m_h->rpcPath(), m_token);
    QVERIFY(call.route == CoreRoute::Rpc && !call.refusal && call.maxBody == ServerCore::kMaxBody);
    const CoreAdmission login = admit("POST", "/session");
    QVERIFY(login.route == CoreRoute::Login && !login.refusal && login.maxBody == ServerCore::kMaxLoginBody);
    for (const QByteArray &token : {QByteArray(), QByteArray("forged")}) {
        const CoreAdmission refused = admit("POST", m_h->rpcPath(), token);
        QVERIFY(refused.refusal);
        const QJsonObject o = QJsonDocument::fromJson(refused.refusal->body).object();
        QVERIFY(o.value("id").isNull());
        QCOMPARE(o.value("error").toObject().value("code").toInt(), -32001);
        QCOMPARE(admit("DELETE", "/session", token).refusal->status, 401);
    }
    QCOMPARE(admit("GET", m_h->rpcPath(), m_token).refusal->status, 405);
    QCOMPARE(admit("POST", "/other", m_token).refusal->status, 404);
}

void TestRpc::loginRefusalsLookAlike()
{
    const CoreResponse wrongPassword = m_h->request("POST", "/session", R"({"operator":"ANA","password":"x"})");
    const CoreResponse unknown = m_h->request("POST", "/session", R"({"operator":"ZECA","password":"ana123"})");
    QCOMPARE(wrongPassword.status, 401);
    QCOMPARE(unknown.status, 401);
    QCOMPARE(wrongPassword.body, unknown.body);
    QCOMPARE(m_h->request("POST", "/session", R"({"operator":"ana","password":"ana123"})").status, 401);

    const CoreResponse ok = m_h->request("POST", "/session", R"({"operator":"BIA","password":"bia123"})");
    QCOMPARE(ok.status, 200);
    const QJsonObject o = QJsonDocument::fromJson(ok.body).object();
    QCOMPARE(o.value("operator").toString(), QStringLiteral("BIA"));
    QCOMPARE(o.value("name").toString(), QStringLiteral("Beatriz Alves"));
    QVERIFY(QByteArray::fromBase64(o.value("token").toString().toLatin1(), QByteArray::Base64UrlEncoding).size() >= 16);
    QVERIFY(o.value("token").toString().toLatin1() != m_token);

    // Only salted hashes are stored.
    Sql q(m_h->db->connection(), "SELECT DSSENHAHASH FROM OPERADOR WHERE CDOPERADOR = 'ANA'");
    q.exec();
    QVERIFY(q.next());
    QVERIFY(q.text(0).startsWith("pbkdf2-sha256$"));
    QVERIFY(!q.text(0).contains("ana123"));
    QVERIFY(Passwords::verify("ana123", q.text(0)));
    QVERIFY(!Passwords::verify("ana124", q.text(0)));
}

void TestRpc::tokensExpireAndEnd()
{
    Harness h;
    h.sessions.setLimits(SessionStore::kIdleLimitMs, 10 * SessionStore::kIdleLimitMs); // idle limit alone here
    const QByteArray token = h.login("ANA", "ana123");
    const QJsonArray args{"0001", "", "T"};
    h.nowMs += SessionStore::kIdleLimitMs - 1000; // still alive, and the use restarts the idle time
    QCOMPARE(Harness::rows(h.call(token, "getProjeto", args)).size(), 2);
    h.nowMs += SessionStore::kIdleLimitMs - 1000;
    QCOMPARE(Harness::rows(h.call(token, "getProjeto", args)).size(), 2);
    h.nowMs += SessionStore::kIdleLimitMs + 1;
    QCOMPARE(Harness::errorCode(h.call(token, "getProjeto", args)), -32001);

    const QByteArray second = h.login("ANA", "ana123");
    QCOMPARE(h.request("DELETE", "/session", {}, second).status, 204);
    QCOMPARE(Harness::errorCode(h.call(second, "getProjeto", args)), -32001);
    QCOMPARE(h.request("DELETE", "/session", {}, second).status, 401);
    QCOMPARE(Harness::errorCode(h.call("made-up", "getProjeto", args)), -32001);
}

void TestRpc::hostileStringsInEveryArgument()
{
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    const qint64 activities = h.scalar("SELECT COUNT(*) FROM ATIVIDADE");
    const QStringList hostile{
        "' OR '1'='1", "0001' --", "'; DROP TABLE ATIVIDADE; --", "\"", "%", "_", "\\", "0001\"; DELETE FROM PROJETO; --",
        "''", "'0001'", QString(5000, QLatin1Char('x')), QStringLiteral("ção\u0000x"),
    };
    const QJsonArray valid8{"0001", "0000000001", "", "T", "", "T", "_A_C", "_A_N"};
    for (const MethodInfo &m : contractMethods()) {
        for (int i = 0; i < m.argCount; ++i) {
            if (m.argKinds[i] != ContractArgKind::String)
                continue;
            for (const QString &evil : hostile) {
                QJsonArray params;
                for (int k = 0; k < m.argCount; ++k)
                    params.append(k < 2 ? valid8[k] : m.name == "getFiltroConcAtiv" ? valid8[k] : QJsonValue(""));
                if (m.name == "getFiltroOper" || m.name == "getFiltroItemTrab")
                    params[3] = "T";
                if (m.name == "SetAtualizaConcCSA")
                    params = QJsonArray{"0001", "0000000001", "001", "001", "00004", "50"};
                params[i] = evil;
                const QJsonObject reply = h.call(token, m.name, params);
                const int code = Harness::errorCode(reply);
                const QString where = m.name + "#" + QString::number(i + 1) + ": " + evil.left(40);
                QVERIFY2(code == 0 || code == -32602 || code == -32011, qPrintable(where + " -> " + QString::number(code)));
                if (code == 0 && i < 2 && m.payloadKind == ContractPayloadKind::Packet)
                    QVERIFY2(Harness::rows(reply).isEmpty(), qPrintable(where)); // a hostile key matches nothing
            }
        }
    }
    // A quote inside a quoted list value is data, not SQL.
    QJsonArray params = valid8;
    params[4] = "'ANA'' OR ''1''=''1'";
    params[5] = "";
    const QJsonObject reply = h.call(token, "getFiltroConcAtiv", params);
    QCOMPARE(Harness::errorCode(reply), 0);
    QVERIFY(Harness::rows(reply).isEmpty());

    QCOMPARE(h.scalar("SELECT COUNT(*) FROM ATIVIDADE"), activities);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM PROJETO"), 3);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM AUDITORIA"), 0);
}

void TestRpc::logLines()
{
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    h.request("POST", "/session", R"({"operator":"ANA","password":"secret-typo"})");
    h.call(token, "getProjeto", {"0001", "", "T"});
    h.call(token, "getProjeto", {"0001"});
    QCOMPARE(h.log.size(), 4);
    for (const QByteArray &line : std::as_const(h.log)) {
        QVERIFY(!line.contains('\n'));
        QVERIFY2(!line.contains("ana123") && !line.contains("secret-typo") && !line.contains(token), line);
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        for (const char *key : {"time", "operator", "method", "params", "ms", "outcome"})
            QVERIFY2(o.contains(QLatin1String(key)), line);
    }
    const QJsonObject call = QJsonDocument::fromJson(h.log[2]).object();
    QCOMPARE(call.value("operator").toString(), QStringLiteral("ANA"));
    QCOMPARE(call.value("method").toString(), QStringLiteral("getProjeto"));
    QCOMPARE(call.value("params").toArray().size(), 3);
    QCOMPARE(call.value("outcome").toString(), QStringLiteral("ok"));
    QCOMPARE(QJsonDocument::fromJson(h.log[3]).object().value("outcome").toInt(), -32602);
    QCOMPARE(QJsonDocument::fromJson(h.log[1]).object().value("outcome").toInt(), 401);
}

void TestRpc::absoluteSessionLifetime()
{
    Harness h;
    h.sessions.setLimits(60'000, 300'000); // one minute idle, five minutes in all
    const QByteArray token = h.login("ANA", "ana123");
    const QJsonArray args{"0001", "", "T"};
    for (int i = 0; i < 5; ++i) { // used every 50 s: never idle for long
        h.nowMs += 50'000;
        QCOMPARE(Harness::rows(h.call(token, "getProjeto", args)).size(), 2);
    }
    h.nowMs += 50'001; // 300,001 ms after the login
    QCOMPARE(Harness::errorCode(h.call(token, "getProjeto", args)), -32001);
    const QByteArray again = h.login("ANA", "ana123");
    QVERIFY(!again.isEmpty());
    QCOMPARE(Harness::rows(h.call(again, "getProjeto", args)).size(), 2);
}

void TestRpc::batchLimit()
{
    auto batch = [](int calls) -> QByteArray {
        QByteArray b = "[";
        for (int i = 0; i < calls; ++i)
            b += QByteArray(i ? "," : "") + R"({"jsonrpc":"2.0","id":)" + QByteArray::number(i)
                 + R"(,"method":"getProjeto","params":["0001","","T"]})";
        return b + "]";
    };
    CoreResponse r = m_h->request("POST", m_h->rpcPath(), batch(ServerCore::kMaxBatch), m_token);
    QCOMPARE(QJsonDocument::fromJson(r.body).array().size(), ServerCore::kMaxBatch);

    r = m_h->request("POST", m_h->rpcPath(), batch(ServerCore::kMaxBatch + 1), m_token);
    QCOMPARE(r.status, 200);
    const QJsonObject reply = QJsonDocument::fromJson(r.body).object(); // one error, not 101
    QCOMPARE(Harness::errorCode(reply), -32600);
    QVERIFY(reply.value("error").toObject().value("message").toString().contains("100"));
}

void TestRpc::logValuesBounded()
{
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    h.log.clear();
    const QString longText(100'000, QLatin1Char('x'));
    QJsonArray manyParams;
    for (int i = 0; i < 5000; ++i)
        manyParams.append(longText.left(300));
    h.call(token, longText, manyParams);                     // unknown method, huge name and params
    h.call(token, "getProjeto", {longText, longText, "T"});  // long arguments
    h.request("POST", "/session", QJsonDocument(QJsonObject{{"operator", longText.left(4000)}, {"password", "x"}}).toJson());
    h.request("POST", h.rpcPath(), R"({"jsonrpc":"2.0","id":1,"method":"getProjeto","params":{"a":")"
                                       + longText.toLatin1() + R"("}})", token);
    QCOMPARE(h.log.size(), 4);
    for (const QByteArray &line : std::as_const(h.log)) {
        QVERIFY2(line.size() < 4096, line.left(300).constData());
        QVERIFY(!QJsonDocument::fromJson(line).isNull());
    }
    const QJsonObject first = QJsonDocument::fromJson(h.log[0]).object();
    QVERIFY(first.value("method").toString().contains("…[+"));
    QVERIFY(first.value("params").toArray().last().toString().contains("…[+4990]"));
    QVERIFY(QJsonDocument::fromJson(h.log[2]).object().value("params").toObject().value("operator").toString().contains("…[+"));
}

void TestRpc::anonymousLinesRateLimited()
{
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    h.log.clear();
    const QByteArray call = R"({"jsonrpc":"2.0","id":1,"method":"getProjeto","params":["0001","","T"]})";
    for (int i = 0; i < 1000; ++i)
        h.request("POST", h.rpcPath(), call); // no token
    QVERIFY2(h.log.size() <= 101, QByteArray::number(h.log.size()).constData());
    const qsizetype anonymous = h.log.size();
    QCOMPARE(Harness::rows(h.call(token, "getProjeto", {"0001", "", "T"})).size(), 2);
    QCOMPARE(h.log.size(), anonymous + 1); // a logged-in user's call is always written

    h.nowMs += 1000; // tokens come back with time; what was dropped is counted
    h.request("POST", h.rpcPath(), call);
    const QJsonObject summary = QJsonDocument::fromJson(h.log.at(h.log.size() - 2)).object();
    QVERIFY(summary.value("suppressed").toInt() >= 899);
    QCOMPARE(QJsonDocument::fromJson(h.log.last()).object().value("outcome").toInt(), -32001);
}

void TestRpc::operatorLinesRateLimited()
{
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    h.log.clear();
    QByteArray batch = "[";
    for (int i = 0; i < ServerCore::kMaxBatch; ++i)
        batch += QByteArray(i ? "," : "") + R"({"jsonrpc":"2.0","id":)" + QByteArray::number(i)
                 + R"(,"method":"inexistente)" + QByteArray::number(i) + R"(","params":[]})";
    batch += "]";
    // A batch is one line with its counts; a logged-in operator's lines have
    // a budget too, and a new second brings tokens back.
    for (int i = 0; i < 600; ++i)
        h.request("POST", h.rpcPath(), batch, token);
    const QJsonObject first = QJsonDocument::fromJson(h.log.first()).object();
    QCOMPARE(first.value("batch").toInt(), ServerCore::kMaxBatch);
    QCOMPARE(first.value("outcomes").toObject().value("-32601").toInt(), ServerCore::kMaxBatch);
    QCOMPARE(first.value("methods").toObject().size(), 11); // ten names, the rest counted together
    QCOMPARE(first.value("methods").toObject().value("…").toInt(), ServerCore::kMaxBatch - 10);
    // (the login's line spent one token of the same budget)
    const qsizetype written = h.log.size();
    QVERIFY2(written <= CoreLimits().operatorLogBurst && written >= CoreLimits().operatorLogBurst - 2,
             QByteArray::number(written).constData());
    h.nowMs += 1000;
    QCOMPARE(Harness::rows(h.call(token, "getProjeto", {"0001", "", "T"})).size(), 2);
    const QJsonObject summary = QJsonDocument::fromJson(h.log.at(h.log.size() - 2)).object();
    QCOMPARE(summary.value("suppressed").toInt(), 600 - written);
    QCOMPARE(QJsonDocument::fromJson(h.log.last()).object().value("outcome").toString(), QString("ok"));
}

void TestRpc::longIdsAreNotRepeated()
{
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    auto reply = [&](int idLength, const QByteArray &withToken) {
        const QByteArray id = QByteArray(idLength, 'x');
        const CoreResponse r = h.request("POST", h.rpcPath(),
                                         R"({"jsonrpc":"2.0","id":")" + id + R"(","method":"getProjeto","params":["0001","","T"]})",
                                         withToken);
        return QJsonDocument::fromJson(r.body).object();
    };
    QCOMPARE(reply(ServerCore::kMaxIdLength, token).value("id").toString().size(), ServerCore::kMaxIdLength);
    for (const QByteArray &withToken : {token, QByteArray()}) {
        const QJsonObject refused = reply(1 << 20, withToken);
        QVERIFY(refused.value("id").isNull());
        QCOMPARE(refused.value("error").toObject().value("code").toInt(), -32600);
    }
}

void TestRpc::loginSlowdownAndReset()
{
    Harness h;
    auto login = [&h](const char *op, const char *password, const QByteArray &peer) {
        CoreRequest r{"POST", "/session", {},
                      QJsonDocument(QJsonObject{{"operator", op}, {"password", password}}).toJson(), peer};
        return h.core->handle(r);
    };
    for (int i = 0; i < 5; ++i)
        QCOMPARE(login("ANA", "wrong", "10.0.0.1").status, 401);
    CoreResponse r = login("ANA", "ana123", "10.0.0.1"); // even the right password waits now, there
    QCOMPARE(r.status, 429);
    QVERIFY(r.retryAfterSec >= 1);
    QVERIFY(QJsonDocument::fromJson(r.body).object().value("error").toString().contains("Tentativas"));
    QCOMPARE(login("ANA", "ana123", "10.0.0.2").status, 200);    // an address without failures is not held back
    QCOMPARE(login("ZECA", "x", "10.0.0.1").status, 401);        // nor other codes from the failing one
    QCOMPARE(login("BIA", "bia123", "10.0.0.3").status, 200);

    // Unknown operators are counted per address.
    for (int i = 0; i < 5; ++i)
        QCOMPARE(login("NOBODY", "x", "10.0.0.4").status, 401);
    QCOMPARE(login("SOMEONE", "x", "10.0.0.4").status, 429);

    // The delay grows with each further failure...
    h.nowMs += 1001;
    QCOMPARE(login("ANA", "wrong", "10.0.0.6").status, 401);
    r = login("ANA", "ana123", "10.0.0.6");
    QCOMPARE(r.status, 429);
    QCOMPARE(r.retryAfterSec, 2);
    // ...and a success clears its own address, not the operator's count.
    h.nowMs += 2001;
    QCOMPARE(login("ANA", "ana123", "10.0.0.6").status, 200);
    QCOMPARE(login("ANA", "wrong", "10.0.0.6").status, 401);
    QCOMPARE(login("ANA", "ana123", "10.0.0.6").status, 429);
}

void TestRpc::nulRefusedEverywhere()
{
    Harness h;
    const QByteArray token = h.login("ANA", "ana123");
    const QString nul = QStringLiteral("00\u00001");
    for (const MethodInfo &m : contractMethods()) {
        for (int i = 0; i < m.argCount; ++i) {
            QJsonArray params;
            for (int k = 0; k < m.argCount; ++k)
                params.append(m.argKinds[k] == ContractArgKind::Packet ? QJsonValue(QJsonObject()) : QJsonValue("T"));
            params[i] = m.argKinds[i] == ContractArgKind::Packet
                            ? QJsonValue(QJsonObject{{"fields", QJsonArray()}, {"changes", QJsonArray{QJsonObject{{"op", nul}}}}})
                            : QJsonValue(nul);
            QCOMPARE(Harness::errorCode(h.call(token, m.name, params)), -32602);
        }
    }
    const QByteArray nulOperator = R"({"operator":"AN\u0000A","password":"ana123"})";
    QCOMPARE(h.request("POST", "/session", nulOperator).status, 400);
    QCOMPARE(h.request("POST", "/session", R"({"operator":"ANA","password":"ana\u0000123"})").status, 400);
    QCOMPARE(h.scalar("SELECT COUNT(*) FROM AUDITORIA"), 0);
}

QTEST_GUILESS_MAIN(TestRpc)
#include "tst_appserver_rpc.moc"

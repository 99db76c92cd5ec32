// The real program over HTTP on 127.0.0.1: ready line, login, a call, gzip,
// 401, 413, a refused import, and a graceful stop with a request in flight.
#include "Harness.h"
#include "HttpClient.h"
#include "TestCertificate.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>
#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Whether a TLS handshake succeeds when the client offers only the given
// protocol version and cipher suites (TLS 1.2 and below: a cipher list).
bool tlsHandshake(int port, int version, const char *ciphers)
{
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(ctx, 0); // offer what the server must refuse
    SSL_CTX_set_min_proto_version(ctx, version);
    SSL_CTX_set_max_proto_version(ctx, version);
    if (ciphers)
        SSL_CTX_set_cipher_list(ctx, ciphers);
    const int fd = rawConnect(port);
    SSL *ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    const bool ok = fd >= 0 && SSL_connect(ssl) == 1;
    SSL_free(ssl);
    rawClose(fd);
    SSL_CTX_free(ctx);
    return ok;
}

QByteArray rpc(const char *method, const char *params, int id = 1)
{
    return QByteArray(R"({"jsonrpc":"2.0","id":)") + QByteArray::number(id) + R"(,"method":")" + method +
           R"(","params":)" + params + "}";
}

// `size` zero bytes, gzip-compressed, made a piece at a time.
QByteArray gzipOfZeros(qint64 size)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const QByteArray zeros(1 << 20, '\0');
    QByteArray out;
    char buf[1 << 16];
    for (qint64 left = size; left >= 0; left -= zeros.size()) {
        const bool last = left <= zeros.size();
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        z.avail_in = uInt(last ? left : zeros.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(buf);
            z.avail_out = sizeof buf;
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buf, qsizetype(sizeof buf - z.avail_out));
        } while (z.avail_out == 0);
        if (last)
            break;
    }
    deflateEnd(&z);
    return out;
}

int statusOf(const QByteArray &response)
{
    return response.startsWith("HTTP/1.1 ") ? response.mid(9, 3).toInt() : 0;
}

} // namespace

class TestHttp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loginAndCall();
    void gzip();
    void refusals();
    void refusedImport();
    void concurrentWritersAndReaders();
    void compressedBodyInflatedWithinLimit();
    void badContentLength_data();
    void badContentLength();
    void slowClientsDoNotHoldOthers();
    void loginFloodGets429();
    void keptAliveConnectionsEnd();
    void rangesAreIgnored();
    void headsAreBounded();
    void smugglingClosesTheConnection();
    void readerThatReadsNothingIsCut();
    void injectedFaultsAreAnswered();
    void probes();
    void https();
    void gracefulStop(); // last: stops the server
    void cleanupTestCase();

private:
    HttpResult post(const char *path, const QByteArray &body, const QByteArray &token = {}, bool gzip = false)
    {
        return httpRequest(m_port, "POST", path, body, token, gzip);
    }
    QByteArray login();
    static QJsonObject object(const HttpResult &r) { return QJsonDocument::fromJson(r.body).object(); }

    QTemporaryDir m_dir;
    QString m_schema; // PostgreSQL only
    QProcess m_server;
    QByteArray m_stderr;
    int m_port = 0;
};

void TestHttp::initTestCase()
{
    connect(&m_server, &QProcess::readyReadStandardError, this, [this] { m_stderr += m_server.readAllStandardError(); });
    VOR_REQUIRE_TEST_BACKEND();
    m_server.start(VOR_SERVER_BIN, {"--database", TestBackend::databaseSpec(m_dir.filePath("http.sqlite"), &m_schema), "--demo", "--listen",
                                    "127.0.0.1:0", "--threads", "4", "--head-timeout", "2", "--max-per-address", "40",
                                    "--idle-timeout", "1", "--max-requests-per-connection", "3",
                                    "--rate-window", "2", "--inject-faults"});
    QVERIFY(m_server.waitForStarted());
    QByteArray line;
    while (!line.endsWith('\n')) {
        QVERIFY2(m_server.waitForReadyRead(30000), m_stderr.constData());
        line += m_server.readAllStandardOutput();
    }
    const auto match = QRegularExpression("^listening on 127\\.0\\.0\\.1:(\\d+)\n$").match(QString::fromUtf8(line));
    QVERIFY2(match.hasMatch(), line.constData());
    m_port = match.captured(1).toInt();
    QVERIFY(m_port > 0);
}

QByteArray TestHttp::login()
{
    const HttpResult r = post("/session", R"({"operator":"ANA","password":"ana123"})");
    if (!r.ok || r.status != 200)
        return {};
    return object(r).value("token").toString().toLatin1();
}

void TestHttp::loginAndCall()
{
    const QByteArray token = login();
    QVERIFY(!token.isEmpty());
    HttpResult r = post("/VOR01300.rdmConcAtivProje", rpc("getProjeto", R"(["0001","","T"])"), token);
    QVERIFY(r.ok);
    QCOMPARE(r.status, 200);
    const QJsonArray rows = object(r).value("result").toObject().value("payload").toObject().value("rows").toArray();
    QCOMPARE(rows.size(), 2);

    r = httpRequest(m_port, "DELETE", "/session", {}, token);
    QVERIFY(r.ok);
    QCOMPARE(r.status, 204);
    r = post("/VOR01300.rdmConcAtivProje", rpc("getProjeto", R"(["0001","","T"])"), token);
    QVERIFY(r.ok);
    QCOMPARE(object(r).value("error").toObject().value("code").toInt(), -32001);
}

void TestHttp::gzip()
{
    const QByteArray token = login();
    const HttpResult zipped = post("/VOR01300.rdmConcAtivProje", rpc("getCSAAux", R"(["0001","0000000001"])"), token, true);
    QVERIFY(zipped.ok);
    QCOMPARE(zipped.status, 200);
    QCOMPARE(zipped.contentEncoding, QByteArray("gzip"));
    QVERIFY(zipped.body.startsWith("\x1f\x8b"));

    const HttpResult plain = post("/VOR01300.rdmConcAtivProje", rpc("getCSAAux", R"(["0001","0000000001"])"), token);
    QVERIFY(plain.ok);
    QVERIFY(plain.contentEncoding.isEmpty());
    QVERIFY(plain.body.size() > zipped.body.size());
    QCOMPARE(object(plain).value("result").toObject().value("payload").toObject().value("rows").toArray().size(), 17);
}

void TestHttp::refusals()
{
    const HttpResult wrong = post("/session", R"({"operator":"ANA","password":"nope"})");
    QVERIFY(wrong.ok);
    QCOMPARE(wrong.status, 401);
    const HttpResult unknown = post("/session", R"({"operator":"NOBODY","password":"ana123"})");
    QVERIFY(unknown.ok);
    QCOMPARE(unknown.status, 401);
    QCOMPARE(unknown.body, wrong.body);

    const HttpResult big = post("/VOR01300.rdmConcAtivProje", QByteArray(16 * 1024 * 1024 + 1, ' '), login());
    QVERIFY(big.ok);
    QCOMPARE(big.status, 413);

    QVERIFY(!login().isEmpty()); // still serving
}

void TestHttp::refusedImport()
{
    QFile bad(m_dir.filePath("bad.json"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"projects":[{"CDFILIAL":"0009","CDPROJETO":"1","NMPROJETO":"x","CDOPERESPRJ":"ANA"}]})");
    bad.close();
    QProcess p;
    p.start(VOR_SERVER_BIN, {"--database", "sqlite:" + m_dir.filePath("import.sqlite"), "--import", bad.fileName(),
                             "--listen", "127.0.0.1:0"});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(p.readAllStandardError().contains("projects[0].CDFILIAL"), "the message names the path");
    QVERIFY(p.readAllStandardOutput().isEmpty());
}

void TestHttp::concurrentWritersAndReaders()
{
    // Several sessions at once, each thread on its own connection: every
    // write lands and no call meets a locked database.
    const QByteArray token = login();
    constexpr int threads = 6, rounds = 15;
    std::atomic<int> good{0}, finished{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                const QByteArray percent = QByteArray::number(t * 10 + i % 10);
                const QByteArray body = t % 2
                    ? rpc("getConcAtivPro", R"(["0001","0000000001"])")
                    : rpc("SetAtualizaConcCSA", QByteArray(R"(["0001","0000000001","001","001","0000)" +
                                                           QByteArray::number(4 + t / 2) + R"(",")" + percent + R"("])")
                                                    .constData());
                const HttpResult r = httpRequest(m_port, "POST", "/VOR01300.rdmConcAtivProje", body, token);
                if (r.ok && r.status == 200 && QJsonDocument::fromJson(r.body).object().contains("result"))
                    ++good;
            }
            ++finished;
        });
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.load(), threads, 60000);
    for (std::thread &th : pool)
        th.join();
    QCOMPARE(good.load(), threads * rounds);
}

void TestHttp::compressedBodyInflatedWithinLimit()
{
    const qint64 pid = m_server.processId();
    const qint64 peakBefore = processMemoryKiB(pid, "VmHWM");
    const QByteArray bomb = gzipOfZeros(256LL << 20); // 256 MiB inflated
    QVERIFY(bomb.size() < 1 << 20);
    const QByteArray token = login();
    // A login's body may be a few KiB; a call's 16 MiB, once inflated.
    for (const char *path : {"/session", "/VOR01300.rdmConcAtivProje"}) {
        const int fd = rawConnect(m_port);
        QVERIFY(fd >= 0);
        rawSend(fd, rawRequest("POST", path, bomb, "Content-Encoding: gzip\r\nAuthorization: Bearer " + token + "\r\n"));
        const QByteArray response = rawReadAll(fd, 10000);
        rawClose(fd);
        QCOMPARE(statusOf(response), 413);
    }
    // Without a session a call's body is neither read nor inflated: the
    // refusal comes from the head alone, while the body is still on its way.
    {
        const int fd = rawConnect(m_port);
        rawSend(fd, "POST /VOR01300.rdmConcAtivProje HTTP/1.1\r\nHost: x\r\nContent-Encoding: gzip\r\n"
                    "Content-Length: 16000000\r\n\r\n" + bomb.left(1000));
        QTRY_VERIFY_WITH_TIMEOUT(rawPeek(fd).contains("-32001"), 10000);
        QVERIFY(rawPeek(fd).contains("Connection: close"));
        rawClose(fd);
    }
    // Nothing much beyond the 16 MiB limit was ever held.
    QVERIFY2(processMemoryKiB(pid, "VmHWM") - peakBefore < 64 * 1024,
             QByteArray::number(processMemoryKiB(pid, "VmHWM") - peakBefore).constData());

    // A compressed body within the limit is served as usual.
    const int fd = rawConnect(m_port);
    QByteArray small;
    {
        const QByteArray body = R"({"operator":"ANA","password":"ana123"})";
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        char buf[1024];
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(body.constData()));
        z.avail_in = uInt(body.size());
        z.next_out = reinterpret_cast<Bytef *>(buf);
        z.avail_out = sizeof buf;
        deflate(&z, Z_FINISH);
        small = QByteArray(buf, qsizetype(sizeof buf - z.avail_out));
        deflateEnd(&z);
    }
    rawSend(fd, rawRequest("POST", "/session", small, "Content-Encoding: gzip\r\nConnection: close\r\n"));
    const QByteArray response = rawReadAll(fd, 10000);
    rawClose(fd);
    QCOMPARE(statusOf(response), 200);
    QVERIFY(response.contains("\"token\""));
}

void TestHttp::badContentLength_data()
{
    QTest::addColumn<QByteArray>("length");
    QTest::addColumn<int>("status");
    QTest::newRow("negative") << QByteArray("-1") << 400;
    QTest::newRow("not a number") << QByteArray("abc") << 400;
    QTest::newRow("exponent") << QByteArray("1e3") << 400;
    QTest::newRow("over the limit") << QByteArray("16777217") << 413;
    QTest::newRow("absurd") << QByteArray("99999999999999999999999999") << 413;
}

void TestHttp::badContentLength()
{
    QFETCH(QByteArray, length);
    QFETCH(int, status);
    const int fd = rawConnect(m_port);
    QVERIFY(fd >= 0);
    rawSend(fd, "POST /session HTTP/1.1\r\nHost: x\r\nContent-Length: " + length + "\r\n\r\n{}");
    const QByteArray response = rawReadAll(fd, 10000); // answered at once, and closed
    rawClose(fd);
    QCOMPARE(statusOf(response), status);
    QVERIFY(response.contains("Connection: close"));
}

void TestHttp::slowClientsDoNotHoldOthers()
{
    // Far more stalled clients than workers (4), from another address, each
    // with a request half sent: a head without its end, or a body cut short.
    // One more than the address may open: exactly one is turned away at once.
    std::vector<int> slow;
    for (int i = 0; i < 41; ++i) {
        const int fd = rawConnect(m_port, "127.0.0.2");
        QVERIFY(fd >= 0);
        rawSend(fd, i % 2 ? QByteArray("POST /session HTTP/1.1\r\nHost: x\r\nX-Slow: ")
                          : QByteArray("POST /session HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"op"));
        slow.push_back(fd);
    }
    auto turnedAway = [&slow] {
        return std::count_if(slow.begin(), slow.end(), [](int fd) { return statusOf(rawPeek(fd)) == 503; });
    };
    QTRY_COMPARE_WITH_TIMEOUT(turnedAway(), 1, 5000);

    // Everyone else is served meanwhile.
    const HttpResult login = httpRequest(m_port, "POST", "/session", R"({"operator":"ANA","password":"ana123"})", {},
                                         false, 5);
    QVERIFY(login.ok);
    QCOMPARE(login.status, 200);
    const QByteArray token = object(login).value("token").toString().toLatin1();
    const HttpResult call = httpRequest(m_port, "POST", "/VOR01300.rdmConcAtivProje",
                                        rpc("getProjeto", R"(["0001","","T"])"), token, false, 5);
    QVERIFY(call.ok);
    QCOMPARE(call.status, 200);

    // A trickle is cut too: a header byte every few tens of milliseconds does not buy time.
    QTRY_VERIFY_WITH_TIMEOUT((rawSend(slow[1], "x"), rawClosedByPeer(slow[1])), 20000);
    // The server ends every stalled request once its time is up (2 s here).
    for (const int fd : slow)
        QTRY_VERIFY_WITH_TIMEOUT(rawClosedByPeer(fd), 20000);
    for (const int fd : slow)
        rawClose(fd);
}

void TestHttp::loginFloodGets429()
{
    // From an address of its own and for an operator no other case uses.
    auto attempt = [this] {
        const int fd = rawConnect(m_port, "127.0.0.3");
        rawSend(fd, rawRequest("POST", "/session", R"({"operator":"BIA","password":"wrong"})", "Connection: close\r\n"));
        const QByteArray response = rawReadAll(fd, 10000);
        rawClose(fd);
        return response;
    };
    for (int i = 0; i < 5; ++i)
        QCOMPARE(statusOf(attempt()), 401);
    const QByteArray refused = attempt();
    QCOMPARE(statusOf(refused), 429);
    QVERIFY(refused.contains("Retry-After: "));
    QVERIFY(!login().isEmpty()); // another address and operator are not held back
}

void TestHttp::keptAliveConnectionsEnd()
{
    const QByteArray request = rawRequest("POST", "/session", "{}");
    // A kept-alive connection serves at most 3 requests (here), the last one says so...
    int fd = rawConnect(m_port);
    rawSend(fd, request + request + request + request);
    const QByteArray answers = rawReadAll(fd, 10000); // ends when the server closes
    rawClose(fd);
    QCOMPARE(answers.count("HTTP/1.1 400"), 3);
    QCOMPARE(answers.count("Connection: close"), 1);
    // ...and is closed after 1 s (here) without a new one.
    fd = rawConnect(m_port);
    rawSend(fd, request);
    QTRY_VERIFY_WITH_TIMEOUT(statusOf(rawPeek(fd)) == 400, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(rawClosedByPeer(fd), 10000);
    rawClose(fd);
}

// The server serves no files: a Range header changes nothing, and what an
// error repeats of the request (its id) is bounded.
void TestHttp::rangesAreIgnored()
{
    QByteArray ranges = "bytes=0-";
    while (ranges.size() < 8000)
        ranges += ",0-";
    const QByteArray token = login();
    const QByteArray body = R"({"jsonrpc":"2.0","id":")" + QByteArray(1 << 20, 'x') + R"(","method":"getProjeto","params":[]})";
    for (const QByteArray &auth : {QByteArray(), QByteArray("Authorization: Bearer " + token + "\r\n")}) {
        const int fd = rawConnect(m_port);
        QVERIFY(fd >= 0);
        rawSend(fd, rawRequest("POST", "/VOR01300.rdmConcAtivProje", body, "Range: " + ranges + "\r\nConnection: close\r\n" + auth));
        const QByteArray reply = rawReadAll(fd, 10000);
        rawClose(fd);
        QVERIFY2(reply.startsWith("HTTP/1.1 200"), reply.left(200).constData());
        QVERIFY(!reply.contains("multipart"));
        QVERIFY2(reply.size() < 4096, QByteArray::number(reply.size()).constData());
    }
}

// A head has one deadline and one size limit, however fast its bytes come.
void TestHttp::headsAreBounded()
{
    const int fd = rawConnect(m_port);
    QVERIFY(fd >= 0);
    rawSend(fd, "POST /session HTTP/1.1\r\nHost: x\r\n");
    const QByteArray line = "X-Flood: " + QByteArray(8000, 'a') + "\r\n";
    qint64 sent = 0;
    while (sent < 64LL << 20 && rawSend(fd, line) && !rawPeek(fd).startsWith("HTTP/"))
        sent += line.size();
    QTRY_VERIFY_WITH_TIMEOUT(statusOf(rawPeek(fd)) == 431, 10000);
    QVERIFY2(sent < 4 << 20, QByteArray::number(sent).constData());
    QTRY_VERIFY_WITH_TIMEOUT(rawClosedByPeer(fd), 10000);
    rawClose(fd);
}

// A request framed two ways (or not at all) is refused and the connection
// closed, so whatever was smuggled after it never runs.
void TestHttp::smugglingClosesTheConnection()
{
    const QByteArray smuggled = rawRequest("POST", "/session", R"({"operator":"CAIO","password":"x"})");
    const QList<QPair<QByteArray, int>> cases{
        {"POST /session HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
        {"POST /session HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0x1d\r\n", 400},
        {"POST /session HTTP/1.1\r\nHost: x\r\nTransfer-Encoding : chunked\r\nContent-Length: 0\r\n\r\n", 400},
        {"POST /session HTTP/1.1\r\nHost: x\r\n\r\n", 411},
    };
    for (const auto &[request, status] : cases) {
        const int fd = rawConnect(m_port);
        rawSend(fd, request + smuggled);
        const QByteArray replies = rawReadAll(fd, 10000); // ends when the server closes
        rawClose(fd);
        QCOMPARE(statusOf(replies), status);
        QCOMPARE(replies.count("HTTP/1.1 "), 1);
    }
    QVERIFY(!m_stderr.contains("CAIO"));
}

namespace {

// The state of the server's side of a loopback connection (/proc/net/tcp),
// "01" while established; empty once gone.
QByteArray serverSideState(int serverPort, int clientFd)
{
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ::getsockname(clientFd, reinterpret_cast<sockaddr *>(&local), &len);
    QFile f("/proc/net/tcp");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray me = QByteArray::number(ntohs(local.sin_port), 16).toUpper().rightJustified(4, '0');
    const QByteArray server = QByteArray::number(serverPort, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1].endsWith(QByteArray(":" + server)) && fields[2].endsWith(QByteArray(":" + me)))
            return fields[3];
    }
    return {};
}

} // namespace

// A client that asks for large replies and reads nothing is cut once a whole
// window (2 s here) passes without its replies moving at the minimum rate.
void TestHttp::readerThatReadsNothingIsCut()
{
    QProcess server;
    QByteArray err;
    connect(&server, &QProcess::readyReadStandardError, this, [&] { err += server.readAllStandardError(); });
    server.start(VOR_SERVER_BIN, {"--database", "sqlite:" + m_dir.filePath("reader.sqlite"), "--demo", "--listen",
                                  "127.0.0.1:0", "--rate-window", "2", "--max-requests-per-connection", "100"});
    QByteArray line;
    while (!line.endsWith('\n')) {
        QVERIFY2(server.waitForReadyRead(30000), err.constData());
        line += server.readAllStandardOutput();
    }
    const int port = QRegularExpression(":(\\d+)\n$").match(QString::fromUtf8(line)).captured(1).toInt();
    const HttpResult session = httpRequest(port, "POST", "/session", R"({"operator":"ANA","password":"ana123"})");
    const QByteArray token = object(session).value("token").toString().toLatin1();
    QByteArray batch = "[";
    for (int i = 0; i < 100; ++i)
        batch += (i ? "," : "") + rpc("getConcAtivPro", R"(["0001","0000000001"])", i);
    batch += "]";
    // Thirty such replies, more than any socket buffer takes, asked for at once.
    const QByteArray request = rawRequest("POST", "/VOR01300.rdmConcAtivProje", batch, "Authorization: Bearer " + token + "\r\n");
    const int fd = rawConnect(port, "127.0.0.1", 4096);
    QVERIFY(fd >= 0);
    rawSend(fd, request.repeated(30));
    QTRY_VERIFY_WITH_TIMEOUT(serverSideState(port, fd) != "01", 20000);
    const QByteArray cut = rawReadAll(fd, 5000);
    rawClose(fd);
    QVERIFY2(cut.count("HTTP/1.1 200") < 30, QByteArray::number(cut.count("HTTP/1.1 200")).constData());
    // A reader that reads gets such a reply whole.
    const HttpResult whole = httpRequest(port, "POST", "/VOR01300.rdmConcAtivProje", batch, token);
    QCOMPARE(whole.status, 200);
    QCOMPARE(QJsonDocument::fromJson(whole.body).array().size(), 100);
    server.terminate();
    QVERIFY(server.waitForFinished(10000));
}

// Whatever a request's handling throws is answered as an internal error,
// and the server goes on.
void TestHttp::injectedFaultsAreAnswered()
{
    const QByteArray token = login();
    const int fd = rawConnect(m_port);
    const QByteArray request = rawRequest("POST", "/VOR01300.rdmConcAtivProje", rpc("getProjeto", R"(["0001","","T"])"),
                                          "Authorization: Bearer " + token + "\r\nX-Vor-Inject: throw\r\n");
    rawSend(fd, request + request + request);
    const QByteArray replies = rawReadAll(fd, 10000);
    rawClose(fd);
    QCOMPARE(replies.count("HTTP/1.1 500"), 3);
    QCOMPARE(replies.count("\"code\":-32603"), 3);
    QTRY_VERIFY(m_stderr.contains("injected fault"));
    const HttpResult after = httpRequest(m_port, "POST", "/VOR01300.rdmConcAtivProje", rpc("getProjeto", R"(["0001","","T"])"), token);
    QCOMPARE(after.status, 200);
}

// Health and metrics for a load balancer and the operator, without a login;
// with an address of their own, only there.
void TestHttp::probes()
{
    const HttpResult health = httpRequest(m_port, "GET", "/health", {});
    QCOMPARE(health.status, 200);
    QCOMPARE(object(health).value("status").toString(), QString("ok"));
    QCOMPARE(httpRequest(m_port, "POST", "/health", "{}").status, 405);
    post("/session", R"({"operator":"ANA","password":"wrong"})");
    const HttpResult metrics = httpRequest(m_port, "GET", "/metrics", {});
    QCOMPARE(metrics.status, 200);
    for (const char *line : {"vor_http_requests_total{code=\"200\"} ", "vor_logins_total{outcome=\"refused\"} ",
                             "vor_rpc_calls_total{outcome=\"ok\"} ", "vor_http_request_duration_seconds_count ",
                             "# TYPE vor_http_connections_open gauge"})
        QVERIFY2(metrics.body.contains(line), line);

    QProcess server;
    server.start(VOR_SERVER_BIN, {"--database", "sqlite:" + m_dir.filePath("probes.sqlite"), "--listen", "127.0.0.1:0",
                                  "--admin-listen", "127.0.0.1:0"});
    QByteArray out;
    while (!out.contains("listening on")) {
        QVERIFY(server.waitForReadyRead(30000));
        out += server.readAllStandardOutput();
    }
    const auto admin = QRegularExpression("health and metrics on 127\\.0\\.0\\.1:(\\d+)").match(QString::fromUtf8(out));
    const auto main = QRegularExpression("listening on 127\\.0\\.0\\.1:(\\d+)").match(QString::fromUtf8(out));
    QVERIFY(admin.hasMatch() && main.hasMatch());
    QCOMPARE(httpRequest(main.captured(1).toInt(), "GET", "/health", {}).status, 404);
    QCOMPARE(httpRequest(admin.captured(1).toInt(), "GET", "/health", {}).status, 200);
    QCOMPARE(httpRequest(admin.captured(1).toInt(), "POST", "/session", R"({"operator":"ANA","password":"ana123"})").status, 404);
    server.terminate();
    QVERIFY(server.waitForFinished(10000));
}

void TestHttp::https()
{
    const QString cert = m_dir.filePath("cert.pem"), key = m_dir.filePath("key.pem");
    QVERIFY(makeTestCertificate(cert, key));
    QProcess server;
    QByteArray err;
    connect(&server, &QProcess::readyReadStandardError, this, [&] { err += server.readAllStandardError(); });
    server.start(VOR_SERVER_BIN, {"--database", "sqlite:" + m_dir.filePath("tls.sqlite"), "--demo", "--listen",
                                  "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key});
    QByteArray line;
    while (!line.endsWith('\n')) {
        QVERIFY2(server.waitForReadyRead(30000), err.constData());
        line += server.readAllStandardOutput();
    }
    const int port = QRegularExpression(":(\\d+)\n$").match(QString::fromUtf8(line)).captured(1).toInt();
    QVERIFY(port > 0);
    const std::string body = R"({"operator":"ANA","password":"ana123"})";

    httplib::SSLClient trusting("127.0.0.1", port);
    trusting.set_ca_cert_path(cert.toStdString().c_str());
    trusting.enable_server_certificate_verification(true);
    const auto ok = trusting.Post("/session", body, "application/json");
    QVERIFY(ok);
    QCOMPARE(ok->status, 200);
    QVERIFY(ok->body.find("\"token\"") != std::string::npos);

    // Checked against the system's authorities, the test's own certificate is refused.
    httplib::SSLClient strict("127.0.0.1", port);
    strict.enable_server_certificate_verification(true);
    const auto refused = strict.Post("/session", body, "application/json");
    QVERIFY(!refused);
    QCOMPARE(refused.error(), httplib::Error::SSLServerVerification);

    // Plain HTTP on the TLS port gets no answer.
    QVERIFY(!httpRequest(port, "POST", "/session", QByteArray::fromStdString(body), {}, false, 5).ok);

    // The server's policy: TLS 1.3, or TLS 1.2 with forward secrecy and AEAD only.
    QVERIFY(tlsHandshake(port, TLS1_3_VERSION, nullptr));
    QVERIFY(tlsHandshake(port, TLS1_2_VERSION, "ECDHE-RSA-AES128-GCM-SHA256"));
    QVERIFY(!tlsHandshake(port, TLS1_2_VERSION, "AES128-GCM-SHA256"));        // RSA key exchange
    QVERIFY(!tlsHandshake(port, TLS1_2_VERSION, "ECDHE-RSA-AES128-SHA"));     // CBC with SHA-1
    QVERIFY(!tlsHandshake(port, TLS1_1_VERSION, "ECDHE-RSA-AES128-SHA"));     // older protocols

    server.terminate();
    QVERIFY(server.waitForFinished(10000));

    // A key that does not load stops the server at once, with the reason.
    QProcess bad;
    bad.start(VOR_SERVER_BIN, {"--database", "sqlite:" + m_dir.filePath("tls.sqlite"), "--listen", "127.0.0.1:0",
                               "--tls-cert", cert, "--tls-key", m_dir.filePath("none.pem")});
    QVERIFY(bad.waitForFinished(30000));
    QCOMPARE(bad.exitCode(), 1);
    QVERIFY(bad.readAllStandardError().contains("TLS"));
}

void TestHttp::gracefulStop()
{
    const QByteArray token = login();
    constexpr int calls = 100; // the most one batch may hold
    QByteArray batch = "[";
    for (int i = 0; i < calls; ++i)
        batch += (i ? "," : "") + rpc("getFiltroOper", R"(["0001","0000000001","","T"])", i);
    batch += "]";

    m_stderr.clear();
    int status = 0;
    qsizetype replies = -1;
    std::atomic<bool> done{false};
    std::thread inFlight([&] {
        // Held in the worker a while, so the stop surely finds it running.
        const int fd = rawConnect(m_port);
        rawSend(fd, rawRequest("POST", "/VOR01300.rdmConcAtivProje", batch,
                               "Authorization: Bearer " + token + "\r\nX-Vor-Inject: delay=1000\r\n"));
        const QByteArray reply = rawReadAll(fd, 60000);
        rawClose(fd);
        status = statusOf(reply);
        replies = QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).array().size();
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(m_stderr.contains("\"inject\":\"delay\""), 30000);
    ::kill(pid_t(m_server.processId()), SIGTERM);
    // Keep reading the server's log meanwhile: a full pipe would stall it.
    QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
    inFlight.join();
    QCOMPARE(status, 200);
    QCOMPARE(replies, qsizetype(calls));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.state(), QProcess::NotRunning, 30000);
    QCOMPARE(m_server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_server.exitCode(), 0);
}

void TestHttp::cleanupTestCase()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        m_server.waitForFinished(10000);
    }
    if (!m_schema.isEmpty())
        TestBackend::dropSchema(m_schema);
}

QTEST_GUILESS_MAIN(TestHttp)
#include "tst_appserver_http.moc"

#include "FakeHttpServer.h"
#include "WindowSystemInput.h"

#include "Errors.h"
#include "NetConnection.h"
#include "Routines.h"
#include "Services.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <zlib.h>
#include <zstd.h>

namespace {
QByteArray rpcResult(const QJsonObject &request, const QJsonValue &result)
{
    return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", request.value("id")}, {"result", result}})
        .toJson(QJsonDocument::Compact);
}

QByteArray rpcError(const QJsonObject &request, int code, const QString &message)
{
    return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"},
                                     {"id", request.value("id")},
                                     {"error", QJsonObject{{"code", code}, {"message", message}}}})
        .toJson(QJsonDocument::Compact);
}

QJsonObject bodyOf(const FakeHttpServer::Request &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

// A port nobody listens on.
int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

void pointAt(TNetConnection &connection, int port)
{
    connection.SetServerName("MOD.rdmTest");
    connection.SetThrowException(false);
    connection.BeforeConnect = [port](QObject *sender) {
        auto *c = static_cast<TNetConnection *>(sender);
        c->SetHost("127.0.0.1");
        c->SetPort(port);
    };
}

QString errorMessage(const QJsonValue &envelope)
{
    return envelope.toObject().value("error").toObject().value("message").toString();
}

QByteArray gzip(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, data.size())) + 32, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

int errorCode(const QJsonValue &envelope)
{
    return envelope.toObject().value("error").toObject().value("code").toInt();
}

class KeyCounter : public QObject
{
public:
    int keys = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress)
            ++keys;
        return false;
    }
};

// The application server program of this build, started on a free port with
// its demo data. Skips when the program is not built.
class RealServer
{
public:
    bool start(QString *why)
    {
        const QString program = QStringLiteral(VOR_SERVER_BIN);
        if (!QFile::exists(program)) {
            *why = "vor01300-server is not built in this tree";
            return false;
        }
        m_process.setProgram(program);
        m_process.setArguments({"--database", "sqlite:" + m_dir.filePath("demo.sqlite"), "--demo",
                                "--listen", "127.0.0.1:0"});
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            *why = "the server did not start";
            return false;
        }
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000) {
            m_process.waitForReadyRead(500);
            out += m_process.readAllStandardOutput();
            const QRegularExpressionMatch m =
                QRegularExpression("listening on ([0-9.]+):([0-9]+)").match(QString::fromUtf8(out));
            if (m.hasMatch()) {
                host = m.captured(1);
                port = m.captured(2).toInt();
                return true;
            }
            if (m_process.state() == QProcess::NotRunning)
                break;
        }
        *why = "the server did not report its address: " + QString::fromUtf8(out + m_process.readAllStandardError());
        return false;
    }
    // A counter of the server's /metrics; -1 when it cannot be read.
    double metric(const QByteArray &name)
    {
        QTcpSocket socket;
        socket.connectToHost(host, quint16(port));
        if (!socket.waitForConnected(5000))
            return -1;
        socket.write("GET /metrics HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n");
        QByteArray text;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
            text += socket.readAll();
        text += socket.readAll();
        for (const QByteArray &line : text.split('\n'))
            if (line.startsWith(QByteArray(name + ' ')))
                return line.mid(name.size() + 1).trimmed().toDouble();
        return -1;
    }

    ~RealServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000))
                m_process.kill();
        }
    }

    QString host;
    int port = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};
} // namespace

class tst_NetConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        setSessionToken("tok-123");
        m_shown.clear();
        setErrorPresenter([this](const QString &text) { m_shown.append(text); });
    }

    void callSendsPositionalParamsAndWritesBackByRef()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            const QJsonObject req = bodyOf(r);
            QJsonArray params = req.value("params").toArray();
            return FakeHttpServer::Response{
                200, rpcResult(req, QJsonObject{{"payload", QJsonObject{{"rows", params.size()}}},
                                                {"byref", QJsonArray{"'X','O''Y'", QJsonValue::Null}}})};
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        QString list = "'A'";
        QString flag = "T";
        const QJsonValue envelope = connection.AppServer().call(
            "getAlgo", {QString("0001"), QString(), &list, QJsonObject{{"fields", QJsonArray()}}, &flag});

        QCOMPARE(server.requests.size(), 1);
        const FakeHttpServer::Request &sent = server.requests.first();
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.path, QByteArray("/MOD.rdmTest"));
        QCOMPARE(sent.headers.value("authorization"), QByteArray("Bearer tok-123"));
        QVERIFY(sent.headers.value("accept-encoding").contains("gzip"));
        const QJsonObject req = bodyOf(sent);
        QCOMPARE(req.value("jsonrpc").toString(), QString("2.0"));
        QCOMPARE(req.value("method").toString(), QString("getAlgo"));
        const QJsonArray params = req.value("params").toArray();
        QCOMPARE(params.size(), 5);
        QCOMPARE(params.at(0).toString(), QString("0001"));
        QCOMPARE(params.at(1).toString(), QString(""));
        QCOMPARE(params.at(2).toString(), QString("'A'"));
        QVERIFY(params.at(3).isObject());
        QCOMPARE(params.at(4).toString(), QString("T"));

        QCOMPARE(list, QString("'X','O''Y'"));
        QCOMPARE(flag, QString(""));
        QCOMPARE(CheckResultServ(envelope, true, 0).toObject().value("rows").toInt(), 5);
        QVERIFY(m_shown.isEmpty());
    }

    void gzipAnswersAreUnpacked()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            FakeHttpServer::Response response{200, gzip(rpcResult(bodyOf(r), QJsonObject{{"payload", "ção"}}))};
            response.extraHeaders = "Content-Encoding: gzip\r\n";
            return response;
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        QCOMPARE(CheckResultServ(connection.AppServer().call("getX", {})).toString(), QString("ção"));
    }

    void anUnchangedAnswerIsReusedWithoutBeingSentAgain()
    {
        int built = 0;
        FakeHttpServer server([&built](const FakeHttpServer::Request &r) {
            const QJsonObject req = bodyOf(r);
            const QByteArray tag = "W/\"v-" + req.value("params").toArray().at(0).toString().toUtf8() + '"';
            if (r.headers.value("if-none-match") == tag) {
                FakeHttpServer::Response same{304, {}};
                same.extraHeaders = "ETag: " + tag + "\r\n";
                return same;
            }
            ++built;
            FakeHttpServer::Response full{200, rpcResult(req, QJsonObject{{"payload", QJsonObject{{"n", built}}},
                                                                          {"byref", QJsonArray{"back"}}})};
            full.extraHeaders = "ETag: " + tag + "\r\n";
            return full;
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        QString ref = "sent";
        const QJsonValue first = connection.AppServer().call("getAlgo", {QString("A"), &ref});
        QCOMPARE(ref, QString("back"));
        ref = "sent";
        const QJsonValue second = connection.AppServer().call("getAlgo", {QString("A"), &ref});
        QCOMPARE(server.requests.size(), 2);
        QVERIFY(!server.requests.at(0).headers.contains("if-none-match"));
        QCOMPARE(server.requests.at(1).headers.value("if-none-match"), QByteArray("W/\"v-A\""));
        // The kept answer is this call's, by-reference values included.
        QCOMPARE(second, first);
        QCOMPARE(ref, QString("back"));
        QCOMPARE(built, 1);

        // Other arguments are another answer: no validator goes with them.
        ref = "sent";
        const QJsonValue other = connection.AppServer().call("getAlgo", {QString("B"), &ref});
        QVERIFY(!server.requests.at(2).headers.contains("if-none-match"));
        QCOMPARE(CheckResultServ(other).toObject().value("n").toInt(), 2);
        QCOMPARE(connection.keptAnswers(), 2);

        // Pointed at another server: what the first one answered is dropped.
        FakeHttpServer elsewhere([](const FakeHttpServer::Request &r) {
            return FakeHttpServer::Response{200, rpcResult(bodyOf(r), QJsonObject{{"payload", 0}})};
        });
        connection.Close();
        pointAt(connection, elsewhere.serverPort());
        connection.AppServer().call("getAlgo", {QString("A"), &ref});
        QVERIFY(!elsewhere.requests.first().headers.contains("if-none-match"));
        QCOMPARE(connection.keptAnswers(), 0);
    }

    void aNotModifiedWithoutAKeptAnswerIsABadResponse()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &) { return FakeHttpServer::Response{304, {}}; });
        TNetConnection connection;
        connection.SetThrowException(false);
        pointAt(connection, server.serverPort());
        QCOMPARE(errorCode(connection.AppServer().call("getAlgo", {QString("A")})),
                 int(TNetConnection::ErrBadResponse));
    }

    // The server packs a cached answer once and sends the reply's own head
    // and tail as frames of their own around it.
    void zstdAnswersInSeveralFramesAreUnpacked()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            QByteArray whole = rpcResult(bodyOf(r), QJsonObject{{"payload", QString(5000, QChar(u'ç'))}});
            QByteArray packed;
            for (const QByteArray &part : {whole.left(20), whole.mid(20, 6000), whole.mid(6020)}) {
                QByteArray frame(qsizetype(ZSTD_compressBound(size_t(part.size()))), Qt::Uninitialized);
                frame.resize(qsizetype(ZSTD_compress(frame.data(), size_t(frame.size()), part.data(), size_t(part.size()), 1)));
                packed += frame;
            }
            FakeHttpServer::Response response{200, packed};
            response.extraHeaders = "Content-Encoding: zstd\r\n";
            return response;
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        QCOMPARE(CheckResultServ(connection.AppServer().call("getX", {})).toString(), QString(5000, QChar(u'ç')));
        QVERIFY(server.requests.first().headers.value("accept-encoding").contains("zstd"));
    }

    void serverErrorBecomesFailureEnvelope()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            return FakeHttpServer::Response{200, rpcError(bodyOf(r), -32602, "Código de situação inválido.")};
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        QString byRef = "keep";
        const QJsonValue envelope = connection.AppServer().call("getX", {&byRef});
        QCOMPARE(errorCode(envelope), -32602);
        QCOMPARE(errorMessage(envelope), QString("Código de situação inválido."));
        QCOMPARE(byRef, QString("keep"));
        QVERIFY_THROWS_EXCEPTION(EAbort, CheckResultServ(envelope, true, 0));
        QCOMPARE(m_shown, QStringList{"Código de situação inválido."});

        connection.SetThrowException(true);
        try {
            connection.AppServer().call("getX", {});
            QFAIL("no exception");
        } catch (const EVorError &e) {
            QCOMPARE(e.message(), QString("Código de situação inválido."));
        }
    }

    void transportFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("http 500") << 500 << QByteArray("oops") << int(TNetConnection::ErrHttp)
                                  << "O servidor de aplicação respondeu com o erro HTTP 500.";
        QTest::newRow("401 without body") << 401 << QByteArray() << int(TNetConnection::ErrHttp)
                                          << "A sessão com o servidor de aplicação não é válida; entre novamente no sistema.";
        QTest::newRow("bad json") << 200 << QByteArray("{\"jsonrpc\":") << int(TNetConnection::ErrBadResponse)
                                  << "O servidor de aplicação enviou uma resposta inválida à chamada de getX.";
        QTest::newRow("not json-rpc") << 200 << QByteArray("[1,2]") << int(TNetConnection::ErrBadResponse)
                                      << "O servidor de aplicação enviou uma resposta inválida à chamada de getX.";
    }

    void transportFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, code);
        QFETCH(QString, message);
        FakeHttpServer server([&](const FakeHttpServer::Request &) {
            return FakeHttpServer::Response{status, body, "text/plain"};
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        const QJsonValue envelope = connection.AppServer().call("getX", {});
        QCOMPARE(errorCode(envelope), code);
        QCOMPARE(errorMessage(envelope), message);
    }

    void connectionRefused()
    {
        const int port = closedPort();
        TNetConnection connection;
        pointAt(connection, port);
        const QJsonValue envelope = connection.AppServer().call("getX", {});
        QCOMPARE(errorCode(envelope), int(TNetConnection::ErrConnectionFailed));
        QCOMPARE(errorMessage(envelope),
                 QString("Não foi possível conectar ao servidor de aplicação em 127.0.0.1:%1.").arg(port));

        connection.SetThrowException(true);
        QVERIFY_THROWS_EXCEPTION(EVorError, connection.AppServer().call("getX", {}));
    }

    void timeoutEndsTheCall()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &) {
            FakeHttpServer::Response r;
            r.never = true;
            return r;
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        connection.setTimeoutMs(500);
        const QJsonValue envelope = connection.AppServer().call("getX", {});
        QCOMPARE(errorCode(envelope), int(TNetConnection::ErrTimeout));
        QCOMPARE(errorMessage(envelope), QString("O servidor de aplicação não respondeu em 0,5 segundo."));
        QCOMPARE(server.requests.size(), 1);
    }

    // The limit is on silence: an answer arriving in pieces over three times
    // the limit comes through whole; the pieces are further apart than nothing.
    void aLongAnswerStillArrivingIsNotCut()
    {
        const QByteArray payload = "\"" + QByteArray(200000, 'x') + "\"";
        FakeHttpServer server([&payload](const FakeHttpServer::Request &) {
            FakeHttpServer::Response r(200, R"({"jsonrpc":"2.0","id":1,"result":{"payload":)" + payload + "}}");
            r.pieceMs = 150;
            return r;
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        connection.setTimeoutMs(500);
        QElapsedTimer clock;
        clock.start();
        const QJsonValue envelope = connection.AppServer().call("getX", {});
        QVERIFY2(clock.elapsed() > 1000, "the answer came faster than the test means");
        QCOMPARE(errorCode(envelope), 0);
        QCOMPARE(envelope.toObject().value("payload").toString().size(), 200000);
    }

    void timersRunButUserInputWaitsDuringACall()
    {
        QWindow window;
        window.resize(100, 100);
        window.show();
        KeyCounter counter;
        window.installEventFilter(&counter);

        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            FakeHttpServer::Response response{200, rpcResult(bodyOf(r), QJsonObject{{"payload", 1}})};
            response.delayMs = 400;
            return response;
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());

        bool timerRan = false;
        int keysSeenDuringCall = -1;
        QTimer::singleShot(50, &window, [&] {
            timerRan = true;
            QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
                &window, QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        });
        QTimer::singleShot(250, &window, [&] { keysSeenDuringCall = counter.keys; });

        const QJsonValue envelope = connection.AppServer().call("getX", {});
        QCOMPARE(envelope.toObject().value("payload").toInt(), 1);
        QVERIFY(timerRan);
        QCOMPARE(keysSeenDuringCall, 0);
        QCOMPARE(counter.keys, 0);
        // Once the call is over, the key the user pressed arrives.
        QTRY_COMPARE(counter.keys, 1);
    }

    void aSecondCallWhileOneWaitsIsRefused()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            FakeHttpServer::Response response{200, rpcResult(bodyOf(r), QJsonObject{{"payload", "outer"}})};
            response.delayMs = 300;
            return response;
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        TNetConnection other;
        pointAt(other, server.serverPort());

        QJsonValue inner;
        QJsonValue innerOther;
        QTimer::singleShot(50, &connection, [&] {
            inner = connection.AppServer().call("getY", {});
            innerOther = other.AppServer().call("getY", {});
        });
        const QJsonValue outer = connection.AppServer().call("getX", {});
        QCOMPARE(outer.toObject().value("payload").toString(), QString("outer"));
        QCOMPARE(errorCode(inner), int(TNetConnection::ErrBusy));
        QVERIFY(errorMessage(inner).contains("em andamento"));
        QCOMPARE(errorCode(innerOther), int(TNetConnection::ErrBusy));
        QCOMPARE(server.requests.size(), 1);
    }

    void connectionFreedDuringItsCall()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            FakeHttpServer::Response response{200, rpcResult(bodyOf(r), QJsonObject{{"payload", 1}})};
            response.delayMs = 400;
            return response;
        });
        auto *connection = new TNetConnection;
        pointAt(*connection, server.serverPort());
        QPointer<TNetConnection> watch(connection);
        QTimer::singleShot(50, &server, [connection] { connection->deleteLater(); });
        const QJsonValue envelope = connection->AppServer().call("getX", {});
        QVERIFY(watch.isNull());
        QCOMPARE(errorCode(envelope), int(TNetConnection::ErrNetwork));
        QVERIFY(errorMessage(envelope).contains("fechada durante a chamada"));
    }

    void beforeConnectRunsOnEveryOpen()
    {
        FakeHttpServer first([](const FakeHttpServer::Request &r) {
            return FakeHttpServer::Response{200, rpcResult(bodyOf(r), QJsonObject{{"payload", "first"}})};
        });
        FakeHttpServer second([](const FakeHttpServer::Request &r) {
            return FakeHttpServer::Response{200, rpcResult(bodyOf(r), QJsonObject{{"payload", "second"}})};
        });
        setWebURL("127.0.0.1");
        setWebPort(first.serverPort());

        TNetConnection connection;
        connection.SetServerName("MOD.rdmTest");
        connection.SetThrowException(false);
        int runs = 0;
        connection.BeforeConnect = [&runs](QObject *sender) {
            ++runs;
            auto *c = static_cast<TNetConnection *>(sender);
            c->SetHost(WebURL());
            c->SetPort(WebPort());
        };

        connection.SetConnected(true);
        QVERIFY(connection.Connected());
        QCOMPARE(runs, 1);
        QCOMPARE(CheckResultServ(connection.AppServer().call("getX", {})).toString(), QString("first"));
        QCOMPARE(runs, 1);

        connection.SetConnected(false);
        QVERIFY(!connection.Connected());
        setWebPort(second.serverPort());
        // Reading the handle while closed opens again, with host and port read afresh.
        QCOMPARE(CheckResultServ(connection.AppServer().call("getX", {})).toString(), QString("second"));
        QCOMPARE(runs, 2);
        QVERIFY(connection.Connected());
    }

    void noAddressGivesAClearFailure()
    {
        TNetConnection connection;
        connection.SetThrowException(false);
        connection.SetConnected(true);
        QVERIFY(!connection.Connected());
        const QJsonValue envelope = connection.AppServer().call("getX", {});
        QCOMPARE(errorCode(envelope), int(TNetConnection::ErrNotConfigured));
        QCOMPARE(errorMessage(envelope), QString("O endereço do servidor de aplicação não foi informado."));
        connection.SetThrowException(true);
        QVERIFY_THROWS_EXCEPTION(EVorError, connection.SetConnected(true));
    }

    void loginAgainstAFakeSessionEndpoint()
    {
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            const QJsonObject req = bodyOf(r);
            if (r.path == "/session" && req.value("password").toString() == "ok")
                return FakeHttpServer::Response{200, R"({"token":"T1","operator":"ANA","name":"Ana Lima"})"};
            return FakeHttpServer::Response{401, R"({"error":"nope"})"};
        });
        setSessionToken(QString());
        setOperador(QString());
        QString error;
        QString name;
        QVERIFY(!login("127.0.0.1", server.serverPort(), "ANA", "bad", &error));
        QCOMPARE(error, QString("Operador ou senha inválidos."));
        QCOMPARE(Operador(), QString());
        QVERIFY(login("127.0.0.1", server.serverPort(), "ANA", "ok", &error, &name));
        QCOMPARE(Operador(), QString("ANA"));
        QCOMPARE(sessionToken(), QString("T1"));
        QCOMPARE(name, QString("Ana Lima"));
        QVERIFY(!login("127.0.0.1", closedPort(), "ANA", "ok", &error));
        QVERIFY(error.startsWith("Não foi possível conectar"));
    }

    void expiredSessionIsRenewedAndTheCallSentOnceMore()
    {
        // The server knows only the token "fresh"; anything else is refused
        // the way an application server refuses an unknown session.
        FakeHttpServer server([](const FakeHttpServer::Request &r) {
            if (r.headers.value("authorization") == "Bearer fresh")
                return FakeHttpServer::Response{200, rpcResult(bodyOf(r), QJsonObject{{"payload", "ok"}})};
            return FakeHttpServer::Response{200, rpcError(bodyOf(r), TAppServer::ErrSessionExpired,
                                                          "Sessão inexistente ou expirada.")};
        });
        TNetConnection connection;
        pointAt(connection, server.serverPort());
        int asked = 0;

        // Renewed: the caller sees only the answer; by-ref args go as before.
        setSessionRenewer([&] {
            ++asked;
            setSessionToken("fresh");
            return true;
        });
        setSessionToken("stale");
        QString byRef = "x";
        QCOMPARE(CheckResultServ(connection.AppServer().call("getX", {"a'ç", &byRef}), true, 0).toString(),
                 QString("ok"));
        QCOMPARE(asked, 1);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(bodyOf(server.requests[1]).value("params"), bodyOf(server.requests[0]).value("params"));
        QVERIFY(m_shown.isEmpty());

        // Login refused or cancelled: the server's sentence, once, no resend.
        server.requests.clear();
        asked = 0;
        setSessionToken("stale");
        setSessionRenewer([&] { return ++asked, false; });
        QVERIFY_THROWS_EXCEPTION(EAbort, CheckResultServ(connection.AppServer().call("getX", {}), true, 0));
        QCOMPARE(asked, 1);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(m_shown, QStringList{"Sessão inexistente ou expirada."});

        // Logged in, yet still refused: one renewal per call, never a loop.
        server.requests.clear();
        m_shown.clear();
        asked = 0;
        setSessionRenewer([&] { return ++asked, true; });
        QVERIFY_THROWS_EXCEPTION(EAbort, CheckResultServ(connection.AppServer().call("getX", {}), true, 0));
        QCOMPARE(asked, 1);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(m_shown.size(), 1);

        // A call made while the renewer runs is not renewed again.
        server.requests.clear();
        asked = 0;
        setSessionRenewer([&] {
            ++asked;
            const QJsonValue inner = connection.AppServer().call("getY", {});
            return inner.toObject().contains("error") && inner["error"]["code"].toInt() == TAppServer::ErrSessionExpired;
        });
        QVERIFY(connection.AppServer().call("getX", {}).toObject().contains("error"));
        QCOMPARE(asked, 1);

        // Other refusals never ask for a login.
        FakeHttpServer other([](const FakeHttpServer::Request &r) {
            return FakeHttpServer::Response{200, rpcError(bodyOf(r), -32602, "Parâmetro inválido.")};
        });
        connection.SetConnected(false);
        pointAt(connection, other.serverPort());
        asked = 0;
        QVERIFY(connection.AppServer().call("getX", {}).toObject().contains("error"));
        QCOMPARE(asked, 0);
        setSessionRenewer({});
        setSessionToken("tok-123");
    }

    void realApplicationServer()
    {
        RealServer server;
        QString why;
        if (!server.start(&why))
            QSKIP(qPrintable(why));

        QString error;
        QVERIFY(!login(server.host, server.port, "ANA", "wrong", &error));
        QCOMPARE(error, QString("Operador ou senha inválidos."));
        QVERIFY2(login(server.host, server.port, "ANA", "ana123", &error), qPrintable(error));
        QCOMPARE(Operador(), QString("ANA"));

        TNetConnection connection;
        pointAt(connection, server.port);
        connection.SetServerName("VOR01300.rdmConcAtivProje");

        // By-reference arguments come back as the server leaves them.
        QString itTrab = "", tItTrab = "T", oper = "", tOper = "T", situacao = "_A_C", status = "_A_N";
        const QJsonValue filtered = connection.AppServer().call(
            "getFiltroConcAtiv", {QString("9999"), QString("0000000000"), &itTrab, &tItTrab, &oper, &tOper,
                                  &situacao, &status});
        QVERIFY2(!filtered.toObject().contains("error"), qPrintable(errorMessage(filtered)));
        QVERIFY(CheckResultServ(filtered).isObject());
        QCOMPARE(tItTrab, QString("T"));
        QCOMPARE(situacao, QString("_A_C"));

        // Asked again with nothing changed, the answer is the one kept:
        // the server answers 304 and sends no rows again.
        const int kept = connection.keptAnswers();
        QVERIFY(kept >= 1);
        const QJsonValue same = connection.AppServer().call(
            "getFiltroConcAtiv", {QString("9999"), QString("0000000000"), &itTrab, &tItTrab, &oper, &tOper,
                                  &situacao, &status});
        QCOMPARE(same, filtered);
        QCOMPARE(connection.keptAnswers(), kept);
        QCOMPARE(situacao, QString("_A_C"));
        QVERIFY(server.metric("vor_not_modified_total") >= 1);

        // A refusal of the server keeps its code and sentence.
        const QJsonValue refused = connection.AppServer().call(
            "getFiltroConcAtiv", {QString("9999"), QString("0000000000"), &itTrab, &tItTrab, &oper, &tOper,
                                  QString(""), QString("_A_N")});
        QCOMPARE(errorCode(refused), -32602);
        QVERIFY(!errorMessage(refused).isEmpty());
        QCOMPARE(errorCode(connection.AppServer().call("naoExiste", {})), -32601);

        // Without the session's token the server refuses the call.
        const QString token = sessionToken();
        setSessionToken("not-a-token");
        QCOMPARE(errorCode(connection.AppServer().call("getProjeto", {QString("0001"), QString(), QString("T")})),
                 -32001);
        setSessionToken(token);

        // The session ended on the server: a new login, and the call goes through.
        logout();
        QCOMPARE(sessionToken(), QString());
        int renewed = 0;
        setSessionRenewer([&] {
            ++renewed;
            return login(server.host, server.port, "ANA", "ana123", nullptr);
        });
        const QJsonValue again = connection.AppServer().call("getProjeto", {QString("0001"), QString(), QString("T")});
        setSessionRenewer({});
        QVERIFY2(!again.toObject().contains("error"), qPrintable(errorMessage(again)));
        QCOMPARE(renewed, 1);
        logout();
        QCOMPARE(sessionToken(), QString());
    }

private:
    QStringList m_shown;
};

QTEST_MAIN(tst_NetConnection)
#include "tst_netconnection.moc"

// vor-bench: the figures of docs/performance.md (B1-B12) in one run.
//
//   vor-bench --bin DIR --out FILE.json [--runs N] [--work DIR [--keep]] [--only B1,B10,...] [--nginx PATH]
//
// Generates projects with vor-fixture, imports them into one SQLite database,
// starts the real application server on 127.0.0.1, and drives the real screen
// offscreen through its widgets (keys, clicks, paints) as a user would; a bare
// HTTP client replays the screen's own requests for the side-by-side ratios.
// Every figure is the median of its runs; ratios come from the same run.
#include "GridSteps.h"

#include "Application.h"
#include "ButtonFlat.h"
#include "DBGeral.h"
#include "NetConnection.h"
#include "NumberFormat.h"
#include "Routines.h"
#include "Services.h"
#include "ShowAvi.h"
#include "VOR01300.h"

#include <httplib.h>
#define ZSTD_STATIC_LINKING_ONLY // ZSTD_findDecompressedSize: a reply may be several frames
#include <zstd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QMdiArea>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void say(const QString &text)
{
    std::fprintf(stderr, "vor-bench: %s\n", qPrintable(text));
    std::fflush(stderr);
}

[[noreturn]] void fail(const QString &text)
{
    say(QStringLiteral("failed: ") + text);
    std::exit(1);
}

// Resident and peak memory of a process, in MB.
double memoryMb(qint64 pid, const char *field)
{
    QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// The machine is shared: how busy it was is part of each result.
QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().split(' ').mid(0, 3).join(' ')) : QString();
}

struct Project
{
    QString code;
    int activities;
    int bookings;
};

// The application server as a child process; its request log (stderr) goes to
// a file, never a pipe that could fill and stall it, and is read back to count
// the calls of each step.
class Server
{
public:
    void start(const QString &program, const QStringList &args, const QString &logFile)
    {
        m_logFile = logFile;
        m_mark = 0; // a new log
        m_process.setProgram(program);
        m_process.setArguments(args);
        m_process.setStandardErrorFile(logFile);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            fail(QStringLiteral("server did not start"));
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n')) {
            if (m_process.state() != QProcess::Running || t.elapsed() > 240000)
                fail(QStringLiteral("server gave no address: ") + QString::fromUtf8(readLog()));
            m_process.waitForReadyRead(200);
            out += m_process.readAllStandardOutput();
        }
        port = out.mid(out.lastIndexOf(':') + 1).trimmed().toInt();
    }
    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(30000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    qint64 pid() const { return m_process.processId(); }

    // Calls logged since the last mark (the server logs a call after answering it).
    QList<QJsonObject> callsSinceMark()
    {
        QList<QJsonObject> calls;
        for (const QByteArray &line : readLog().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(QStringLiteral("method")))
                calls << o;
        }
        return calls;
    }
    void mark() { m_mark = QFileInfo(m_logFile).size(); }

    int port = 0;

private:
    // The log written since the mark, whole lines only.
    QByteArray readLog() const
    {
        QFile f(m_logFile);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(m_mark))
            return {};
        QByteArray text = f.readAll();
        return text.left(text.lastIndexOf('\n') + 1);
    }

    QProcess m_process;
    QString m_logFile;
    qint64 m_mark = 0;
};

// One kept-alive connection sending a prepared request and reading each whole
// answer (Content-Length framed): a load tool that costs little per request,
// used alike against the server and against nginx.
class RawClient
{
public:
    RawClient(int port, std::string request) : m_request(std::move(request))
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // One request and its answer; false when the answer is not a 200 or the connection failed.
    bool exchange() { return send(m_request) == 200; }
    // Any request; its answer's status (0 when the connection failed or the
    // answer had no length). A 304 or 204 ends with its head.
    int send(const std::string &request, std::string *etag = nullptr)
    {
        if (m_fd < 0 || ::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return 0;
        m_buffer.clear();
        size_t headEnd = std::string::npos, total = 0;
        char chunk[65536];
        while (true) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return 0;
            m_buffer.append(chunk, size_t(n));
            if (headEnd == std::string::npos && (headEnd = m_buffer.find("\r\n\r\n")) != std::string::npos) {
                const int status = std::atoi(m_buffer.c_str() + 9);
                if (etag) {
                    const size_t at = m_buffer.find("\r\nETag: ");
                    *etag = at < headEnd ? m_buffer.substr(at + 8, m_buffer.find("\r\n", at + 8) - at - 8)
                                         : std::string();
                }
                if (status == 304 || status == 204)
                    return status;
                const size_t at = m_buffer.find("Content-Length: ");
                if (at == std::string::npos || at > headEnd)
                    return 0;
                total = headEnd + 4 + std::strtoull(m_buffer.c_str() + at + 16, nullptr, 10);
            }
            if (headEnd != std::string::npos && m_buffer.size() >= total)
                return std::atoi(m_buffer.c_str() + 9);
        }
    }
    size_t answerBytes() const { return m_buffer.size(); }

private:
    int m_fd = -1;
    std::string m_request;
    std::string m_buffer;
};



// One answer as the bare client saw it.
struct Answer
{
    int status = 0;          // 0: no answer
    std::string etag;        // the validator, empty when the server gave none
    size_t bytes = 0;        // the body as it came (encoded)
    size_t plainBytes = 0;   // decoded (when asked to decode)
    std::string plain;       // decoded body (when asked to keep it)
};

// A bare HTTP client: one kept-alive connection, the requests as bytes.
class BareClient
{
public:
    BareClient(int port, const std::string &token) : m_client("127.0.0.1", port), m_port(port), m_token(token)
    {
        m_client.set_keep_alive(true);
        m_client.set_decompress(false);
        m_client.set_read_timeout(120, 0);
    }
    // Sends one call; the answer is decoded as the host would decode it.
    size_t call(const QString &method, const QJsonArray &params, const std::string &acceptEncoding)
    {
        const Answer a = exchange(method, params, acceptEncoding, {}, true, false);
        if (a.status != 200)
            fail(QStringLiteral("%1 failed").arg(method));
        return a.plainBytes;
    }
    // One call with an optional validator (If-None-Match); decoding and
    // keeping the decoded body only when asked.
    Answer exchange(const QString &method, const QJsonArray &params, const std::string &acceptEncoding,
                    const std::string &ifNoneMatch, bool decode, bool keep)
    {
        const QByteArray body = QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method},
                                                          {"params", params}})
                                    .toJson(QJsonDocument::Compact);
        Answer a;
        if (!ifNoneMatch.empty()) {
            // This HTTP library waits for a body after a 304 until the
            // connection closes: revalidations go over a connection of our own.
            if (!m_raw)
                m_raw = std::make_unique<RawClient>(m_port, std::string());
            const std::string request = "POST /VOR01300.rdmConcAtivProje HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                        "Authorization: Bearer " + m_token + "\r\nContent-Type: application/json\r\n"
                                        "Accept-Encoding: " + acceptEncoding + "\r\nIf-None-Match: " + ifNoneMatch
                                        + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"
                                        + body.toStdString();
            a.status = m_raw->send(request, &a.etag);
            a.bytes = m_raw->answerBytes();
            if (a.status == 0)
                m_raw.reset();
            return a;
        }
        httplib::Headers headers{{"Authorization", "Bearer " + m_token}};
        if (!acceptEncoding.empty())
            headers.emplace("Accept-Encoding", acceptEncoding);
        const httplib::Result r = m_client.Post("/VOR01300.rdmConcAtivProje", headers, body.toStdString(),
                                                "application/json");
        if (!r)
            return a;
        a.status = r->status;
        a.etag = r->get_header_value("ETag");
        a.bytes = r->body.size();
        if (!decode || a.status != 200)
            return a;
        const std::string coding = r->get_header_value("Content-Encoding");
        std::string plain;
        if (coding == "zstd") {
            const unsigned long long size = ZSTD_findDecompressedSize(r->body.data(), r->body.size());
            plain.resize(size_t(size));
            ZSTD_decompress(plain.data(), plain.size(), r->body.data(), r->body.size());
        } else if (coding == "gzip") {
            httplib::detail::gzip_decompressor d;
            d.decompress(r->body.data(), r->body.size(), [&plain](const char *p, size_t n) {
                plain.append(p, n);
                return true;
            });
        } else {
            plain = std::move(r->body);
        }
        a.plainBytes = plain.size();
        if (keep)
            a.plain = std::move(plain);
        return a;
    }

private:
    httplib::Client m_client;
    int m_port;
    std::string m_token;
    std::unique_ptr<RawClient> m_raw;
};

// A counter or gauge of the server's GET /metrics (summed over its labels);
// -1 when the server does not report it.
double serverMetric(int port, const char *name)
{
    httplib::Client c("127.0.0.1", port);
    const httplib::Result r = c.Get("/metrics");
    if (!r || r->status != 200)
        return -1;
    double sum = -1;
    const std::string key(name);
    std::istringstream lines(r->body);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, key.size(), key) != 0 || line.size() <= key.size()
            || (line[key.size()] != ' ' && line[key.size()] != '{'))
            continue;
        sum = std::max(sum, 0.0) + std::strtod(line.c_str() + line.rfind(' ') + 1, nullptr);
    }
    return sum;
}

std::string loginToken(int port)
{
    httplib::Client c("127.0.0.1", port);
    const httplib::Result r = c.Post("/session", R"({"operator":"ANA","password":"ana123"})", "application/json");
    if (!r || r->status != 200)
        fail(QStringLiteral("bare login failed"));
    return QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object().value("token").toString().toStdString();
}

// What the host sends (QNetworkAccessManager adds it by itself).
const std::string kHostEncodings = "zstd, br, gzip, deflate";

struct Row
{
    QString id, what, target, value;
    bool met;
};

} // namespace

int main(int argc, char *argv[])
{
    restartWithHugePageHeap(argv); // as the host does
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    QCommandLineParser cli;
    cli.addOptions({{"bin", "Folder of vor01300-server and vor-fixture.", "DIR"},
                    {"out", "Results file (JSON).", "FILE"},
                    {"runs", "Runs per figure (median).", "N", "5"},
                    {"work", "Folder for fixtures and the database (default: a temporary one).", "DIR"},
                    {"nginx", "nginx program for the B5 comparison (skipped when missing).", "PATH", "/usr/sbin/nginx"},
                    {"keep", "Keep the database of an earlier run in --work when it is there (no fixtures made)."},
                    {"only", "Only these figures (comma-separated ids, e.g. B8,B12); B1 and B10 always run.", "IDS"}});
    cli.process(qapp);
    const QString bin = cli.value("bin");
    const int runs = std::max(1, cli.value("runs").toInt());
    QTemporaryDir tmp;
    const QString work = cli.isSet("work") ? cli.value("work") : tmp.path();
    QDir().mkpath(work);
    const auto benchStart = Clock::now();
    const QString loadAtStart = loadAverage();

    // ---- projects ----------------------------------------------------------
    const Project tiny{"0000000100", 100, 100}; // enough activities to fill the grid
    const Project b7[] = {{"0000001000", 1000, 25000}, {"0000002000", 2000, 50000}, {"0000004000", 4000, 100000},
                          {"0000008000", 8000, 200000}};
    const Project big{"0000005000", 5000, 200000};
    const Project approve{"0000001112", 1112, 11120}; // about 1,000 activities with bookings
    const QString db = work + "/bench.sqlite";
    const bool reuse = cli.isSet("keep") && QFileInfo::exists(db);
    if (!reuse) {
        QFile::remove(db);
        QFile::remove(db + "-wal");
        QFile::remove(db + "-shm");
    }
    const QStringList only = cli.value("only").split(',', Qt::SkipEmptyParts);
    auto want = [&only](const char *id) { return only.isEmpty() || only.contains(QLatin1String(id)); };
    QList<Project> all{tiny};
    for (const Project &p : b7)
        all << p;
    all << big << approve;
    for (qsizetype i = 0; i < all.size() && !reuse; ++i) {
        const Project &p = all[i];
        const QString file = QStringLiteral("%1/%2.json").arg(work, p.code);
        QProcess gen;
        gen.setStandardOutputFile(file);
        QStringList args{"--activities", QString::number(p.activities), "--bookings", QString::number(p.bookings),
                         "--seed", QString::number(i + 1), "--project", p.code};
        if (i > 0)
            args << "--project-only";
        gen.start(bin + "/vor-fixture", args);
        if (!gen.waitForFinished(120000) || gen.exitCode() != 0)
            fail("vor-fixture failed");
        const auto t = Clock::now();
        Server importer;
        importer.start(bin + "/vor01300-server",
                       {"--database", "sqlite:" + db, "--listen", "127.0.0.1:0", "--import", file},
                       work + "/import.log");
        importer.stop();
        say(QStringLiteral("project %1: %2 activities, %3 bookings, imported in %4 s")
                .arg(p.code)
                .arg(p.activities)
                .arg(p.bookings)
                .arg(msSince(t) / 1000, 0, 'f', 1));
    }

    Server server;
    server.start(bin + "/vor01300-server", {"--database", "sqlite:" + db, "--listen", "127.0.0.1:0"},
                 work + "/server.log");
    const std::string token = loginToken(server.port);

    // ---- the host, offscreen ---------------------------------------------
    Workstation::setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    SetShowAviDelay(600000); // the busy window would steal activation offscreen
    dtmDBGeral().open(work + "/local.sqlite");
    {
        QSqlQuery q(dtmDBGeral().adcGeral.database());
        q.exec("INSERT OR REPLACE INTO FILIAL (CDFILIAL, NMFILIAL) VALUES ('0001', 'Matriz')");
    }
    setWebURL("127.0.0.1");
    setWebPort(server.port);
    QString error;
    if (!login("127.0.0.1", server.port, "ANA", "ana123", &error))
        fail(error);
    auto *window = new QMainWindow;
    window->setCentralWidget(new QMdiArea(window));
    window->resize(1300, 750);
    app()->SetMainForm(window);
    QStringList messages;
    setErrorPresenter([&messages](const QString &text) { messages << text; });
    window->show();
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window))
        say("the main window did not become active");
    Initialize();
    IniProc();
    if (!QTest::qWaitFor([] { return frmConcAtivProj && frmConcAtivProj->isVisible(); }, 10000))
        fail("the screen did not show");
    TfrmConcAtivProj *s = frmConcAtivProj;
    GridSteps::chooseBranch(s, "1");

    // Leaves the header with `code` typed: the load, until the grid has painted.
    auto load = [&](const QString &code) {
        GridSteps::leaveGrid(s);
        ScreenHarness::focus(s->edtCDPROJETO);
        s->edtCDPROJETO->selectAll();
        ScreenHarness::typeText(s->edtCDPROJETO, code);
        QApplication::processEvents();
        server.mark();
        const auto t = Clock::now();
        ScreenHarness::pressTab(s->edtCDPROJETO);
        s->dbgPadrao->viewport()->repaint();
        QApplication::processEvents();
        const double ms = msSince(t);
        if (!messages.isEmpty())
            fail("the screen showed: " + messages.join(" | "));
        if (!s->cdsConcAtivProj->Active() || !s->cdsCSAAux->Active())
            fail("the load did not complete");
        return ms;
    };
    // A freshly started server on a new address: its answer cache is empty,
    // and the host holds no answer of it (the host keeps answers per server).
    // Sessions live in the database, so both logins stay valid.
    auto restart = [&] {
        server.stop();
        server.start(bin + "/vor01300-server", {"--database", "sqlite:" + db, "--listen", "127.0.0.1:0"},
                     work + "/server.log");
        s->netConcAtivProj->Close();
        setWebPort(server.port);
    };
    // The same requests from the bare client, in the same order.
    auto replay = [&](const QList<QJsonObject> &calls) {
        BareClient c(server.port, token);
        const auto t = Clock::now();
        for (const QJsonObject &call : calls)
            c.call(call.value("method").toString(), call.value("params").toArray(), kHostEncodings);
        return msSince(t);
    };
    auto methodsOf = [](const QList<QJsonObject> &calls) {
        QStringList m;
        for (const QJsonObject &c : calls)
            m << c.value("method").toString();
        return m;
    };
    // Loads that the host has no copy of: each on a freshly started server
    // whose answers another reader (the bare client) has just asked for, so the
    // screen and the bare client meet the same warm server. Also the load
    // right after, with nothing changed (the host's validators answered 304).
    struct Series
    {
        double screen = 0, bare = 0, again = 0;
        QList<QJsonObject> calls;
    };
    auto loadSeries = [&](const QString &code, int n) {
        Series out;
        std::vector<double> screen, bare, again;
        for (int i = 0; i < n; ++i) {
            restart();
            if (!out.calls.isEmpty())
                replay(out.calls);
            screen.push_back(load(code));
            out.calls = server.callsSinceMark();
            bare.push_back(replay(out.calls));
            again.push_back(load(code));
        }
        out.screen = median(screen);
        out.bare = median(bare);
        out.again = median(again);
        return out;
    };

    QJsonObject results;
    QList<Row> table;
    auto fmt = [](double v, int decimals = 0) { return QString::number(v, 'f', decimals); };

    // ---- B1, B6 ----------------------------------------------------------
    load(b7[1].code); // warm-up: caches, first paint of the grid
    const Series b1 = loadSeries(b7[1].code, runs);
    const double hostRss = memoryMb(0, "VmRSS:"), hostPeak = memoryMb(0, "VmHWM:");
    const double serverRss = memoryMb(server.pid(), "VmRSS:"), serverPeak = memoryMb(server.pid(), "VmHWM:");
    say(QStringLiteral("B1: load %1 ms, bare client %2 ms, again %3 ms (%4)")
            .arg(fmt(b1.screen), fmt(b1.bare), fmt(b1.again), methodsOf(b1.calls).join(",")));
    table << Row{"B1", "load 2,000 act. / 50,000 bookings, nothing kept in the host (median ms)", "<= 500",
                 fmt(b1.screen), b1.screen <= 500}
          << Row{"B1", "same requests, bare HTTP client (ms); ratio", "<= 1.5x",
                 fmt(b1.bare) + "; " + fmt(b1.screen / b1.bare, 2) + "x", b1.screen <= 1.5 * b1.bare}
          << Row{"-", "the same load again, nothing changed (median ms)", "a result", fmt(b1.again), true};
    table << Row{"B6", "memory after B1, host / server (MB resident)", "<= 200 / <= 150",
                 fmt(hostRss) + " / " + fmt(serverRss), hostRss <= 200 && serverRss <= 150};
    results["B1"] = QJsonObject{{"load_ms", b1.screen}, {"bare_client_ms", b1.bare}, {"ratio", b1.screen / b1.bare},
                                {"load_again_ms", b1.again},
                                {"requests", QJsonArray::fromStringList(methodsOf(b1.calls))}};
    results["B6"] = QJsonObject{{"host_rss_mb", hostRss}, {"host_peak_mb", hostPeak}, {"server_rss_mb", serverRss},
                                {"server_peak_mb", serverPeak}};

    // ---- B7 --------------------------------------------------------------
    if (want("B7")) {
        QJsonObject growth;
        double t1k = 0, t8k = 0;
        for (const Project &p : b7) {
            const double t = p.activities == 2000 ? b1.screen : loadSeries(p.code, std::max(1, runs - 2)).screen;
            growth[QString::number(p.activities)] = t;
            if (p.activities == 1000)
                t1k = t;
            if (p.activities == 8000)
                t8k = t;
            say(QStringLiteral("B7: %1 activities: %2 ms").arg(p.activities).arg(fmt(t)));
        }
        table << Row{"B7", QStringLiteral("load at 1k / 2k / 4k / 8k activities (ms); 8k/1k"), "<= 10",
                     QStringLiteral("%1 / %2 / %3 / %4; %5")
                         .arg(fmt(growth["1000"].toDouble()), fmt(growth["2000"].toDouble()),
                              fmt(growth["4000"].toDouble()), fmt(t8k), fmt(t8k / t1k, 1)),
                     t8k / t1k <= 10};
        growth["ratio_8k_1k"] = t8k / t1k;
        results["B7"] = growth;
    }

    // ---- B2 --------------------------------------------------------------
    if (want("B2")) {
        auto repaint = [&](const QString &code) {
            load(code);
            std::vector<double> v;
            for (int i = 0; i < 5 * runs; ++i) {
                const auto t = Clock::now();
                s->dbgPadrao->viewport()->repaint();
                v.push_back(msSince(t));
            }
            return median(v);
        };
        const double paintSmall = repaint(tiny.code), paintBig = repaint(b7[2].code);
        table << Row{"B2", "repaint visible rows, 100 vs 100,000 bookings (ms); ratio", "<= 1.2x",
                     fmt(paintSmall, 2) + " / " + fmt(paintBig, 2) + "; " + fmt(paintBig / paintSmall, 2) + "x",
                     paintBig <= 1.2 * paintSmall};
        results["B2"] = QJsonObject{{"small_ms", paintSmall}, {"large_ms", paintBig}, {"ratio", paintBig / paintSmall}};
    }

    // ---- B10 -------------------------------------------------------------
    // The largest project, never loaded before by the host, on a server just
    // started. Between runs the host loads a small project, so that no list
    // it holds is the large one's.
    QList<QJsonObject> bigCalls;
    {
        std::vector<double> v;
        for (int i = 0; i < std::min(runs, 3); ++i) {
            if (i > 0)
                load(tiny.code);
            restart();
            v.push_back(load(big.code));
            if (bigCalls.isEmpty())
                bigCalls = server.callsSinceMark();
            say(QStringLiteral("B10: %1 ms").arg(fmt(v.back())));
        }
        const double b10 = median(v);
        table << Row{"B10", "load 5,000 act. / 200,000 bookings, first time, server just started (median ms)", "<= 1000",
                     fmt(b10), b10 <= 1000};
        results["B10"] = QJsonObject{{"ms", b10}, {"runs", int(v.size())},
                                     {"requests", QJsonArray::fromStringList(methodsOf(bigCalls))}};
    }

    // ---- B11 -------------------------------------------------------------
    // At 5,000 / 200,000, each with its reload until the grid has painted:
    // the verify command, an approval of 1,000 marked activities, a
    // percentage typed into one activity.
    if (want("B11")) {
        TClientDataSet *list = s->cdsConcAtivProj;
        auto afterClick = [&](QAbstractButton *button) {
            server.mark();
            const auto t = Clock::now();
            QTest::mouseClick(button, Qt::LeftButton);
            s->dbgPadrao->viewport()->repaint();
            QApplication::processEvents();
            const double ms = msSince(t);
            if (!messages.isEmpty())
                fail("the screen showed: " + messages.join(" | "));
            return ms;
        };
        // Activities with bookings (only those take a mark or a percentage).
        QSet<QString> booked;
        {
            TClientDataSet *b = s->cdsCSAAux;
            const int t = b->fieldIndex("NRTAREFA"), a = b->fieldIndex("NRPLATIVTARE");
            for (int r = 0; r < b->RecordCount(); ++r)
                booked.insert(b->valueAt(r, t).toString() + '|' + b->valueAt(r, a).toString());
        }
        auto hasBookings = [&](int row) {
            return booked.contains(GridSteps::value(s, row, "NRTAREFA") + '|' + GridSteps::value(s, row, "NRPLATIVTARE"))
                   && GridSteps::value(s, row, "SITUACAO") == QLatin1String("A");
        };
        load(big.code);
        std::vector<double> verify, approve, percent;
        QStringList verifyMethods, percentMethods;
        int marked = 0, approveRequests = 0;
        for (int i = 0; i < runs; ++i) {
            verify.push_back(afterClick(s->sbtVerificar));
            if (verifyMethods.isEmpty())
                verifyMethods = methodsOf(server.callsSinceMark());
        }
        for (int i = 0; i < runs; ++i) {
            // 999 marks set on the list directly (no bookings fetched on the
            // way), the 1,000th by a click on its mark, as the user marks.
            const auto afterScroll = list->AfterScroll;
            list->AfterScroll = nullptr;
            list->DisableControls();
            int n = 0, last = -1;
            for (int row = 0; row < list->RecordCount() && n < 1000; ++row) {
                if (!hasBookings(row))
                    continue;
                if (++n == 1000) {
                    last = row;
                    break;
                }
                list->SetRecNo(row + 1);
                list->Edit();
                list->FieldByName("IDCHECK")->SetAsString("S");
                list->Post();
            }
            list->First();
            list->EnableControls();
            list->AfterScroll = afterScroll;
            if (last < 0)
                fail("fewer than 1,000 activities with bookings");
            if (GridSteps::value(s, last, "IDCHECK") != QLatin1String("S"))
                GridSteps::clickCell(s, last, "IDCHECK");
            marked = int(GridSteps::marks(s).count("S"));
            if (!s->sbtConcluir->isEnabled())
                fail("the approve command is not enabled");
            approve.push_back(afterClick(s->sbtConcluir));
            approveRequests = 0;
            for (const QJsonObject &c : server.callsSinceMark())
                approveRequests += c.value("method").toString() == QLatin1String("setAprovaAtividades");
        }
        int row = 0;
        while (row < list->RecordCount() && !hasBookings(row))
            ++row;
        for (int i = 0; i < runs; ++i) {
            GridSteps::clickCell(s, row, GridSteps::PERC);
            const QString value = GridSteps::value(s, row, GridSteps::PERC) == QLatin1String("41") ? "42" : "41";
            GridSteps::type(value);
            server.mark();
            const auto t = Clock::now();
            GridSteps::key(Qt::Key_Return);
            s->dbgPadrao->viewport()->repaint();
            QApplication::processEvents();
            percent.push_back(msSince(t));
            if (!messages.isEmpty())
                fail("the screen showed: " + messages.join(" | "));
            if (percentMethods.isEmpty())
                percentMethods = methodsOf(server.callsSinceMark());
        }
        const double v = median(verify), a = median(approve), p = median(percent);
        say(QStringLiteral("B11: verify %1 ms (%2); approve %3 ms; percentage %4 ms (%5)")
                .arg(fmt(v), verifyMethods.join(","), fmt(a), fmt(p), percentMethods.join(",")));
        table << Row{"B11", "at 5,000 / 200,000, with the reload: verify (median ms)", "<= 400", fmt(v), v <= 400}
              << Row{"B11", QStringLiteral("  approve %1 marked activities (median ms; requests)").arg(marked),
                     "<= 400; 1", fmt(a) + "; " + QString::number(approveRequests), a <= 400 && approveRequests == 1}
              << Row{"B11", "  a percentage typed into one activity (median ms)", "<= 400", fmt(p), p <= 400};
        results["B11"] = QJsonObject{{"verify_ms", v}, {"verify_requests", QJsonArray::fromStringList(verifyMethods)},
                                     {"approve_ms", a}, {"marked", marked}, {"approval_requests", approveRequests},
                                     {"percentage_ms", p},
                                     {"percentage_requests", QJsonArray::fromStringList(percentMethods)}};
    }

    // ---- B3 --------------------------------------------------------------
    if (want("B3")) {
        load(big.code);
        std::vector<double> marks;
        int markCalls = 0;
        for (int i = 0; i < runs; ++i) {
            server.mark();
            const auto t = Clock::now();
            GridSteps::clickTitle(s, "IDCHECK");
            QApplication::processEvents();
            marks.push_back(msSince(t));
            QTest::qWait(0);
            (void)QTest::qWaitFor([&] { return !server.callsSinceMark().isEmpty(); }, 2000);
            markCalls = std::max(markCalls, int(server.callsSinceMark().size()));
        }
        const double b3 = median(marks);
        table << Row{"B3", "mark all of 5,000 activities (median ms; server calls)", "<= 200; <= 2",
                     fmt(b3) + "; " + QString::number(markCalls), b3 <= 200 && markCalls <= 2};
        results["B3"] = QJsonObject{{"ms", b3}, {"server_calls", markCalls}};
    }

    // ---- B4 --------------------------------------------------------------
    if (want("B4")) {
        std::vector<double> approvals;
        int approveRequests = 0, marked = 0;
        load(approve.code);
        for (int i = 0; i < runs; ++i) {
            if (GridSteps::marks(s).count("S") == 0)
                GridSteps::clickTitle(s, "IDCHECK");
            marked = int(GridSteps::marks(s).count("S"));
            if (!s->sbtConcluir->isEnabled())
                fail("the approve command is not enabled");
            server.mark();
            const auto t = Clock::now();
            QTest::mouseClick(s->sbtConcluir, Qt::LeftButton);
            s->dbgPadrao->viewport()->repaint();
            QApplication::processEvents();
            approvals.push_back(msSince(t));
            (void)QTest::qWaitFor([&] { return !server.callsSinceMark().isEmpty(); }, 2000);
            approveRequests = 0;
            for (const QJsonObject &c : server.callsSinceMark())
                approveRequests += c.value("method").toString() == QLatin1String("setAprovaAtividades");
            if (!messages.isEmpty())
                fail("the screen showed: " + messages.join(" | "));
        }
        const double b4 = median(approvals);
        table << Row{"B4", QStringLiteral("approve %1 marked activities, with the reload (median ms; requests)").arg(marked),
                     "<= 500; 1", fmt(b4) + "; " + QString::number(approveRequests), b4 <= 500 && approveRequests == 1};
        results["B4"] = QJsonObject{{"ms", b4}, {"marked", marked}, {"approval_requests", approveRequests}};
    }

    // ---- B8 --------------------------------------------------------------
    // Every read at 5,000 / 200,000 from the bare client with the host's
    // Accept-Encoding, timed to the last byte of the answer (not decoded):
    // cold is each read's first call after the server started; warm repeats
    // it, without a validator and with the one the server gave (304).
    if (want("B8")) {
        const QString f = "0001", p = big.code;
        const QList<QPair<QString, QJsonArray>> reads = {
            {"getProjeto", QJsonArray{f, p, ""}},
            {"getConcAtivPro", QJsonArray{f, p}},
            {"getFiltroConcAtiv", QJsonArray{f, p, "", "T", "", "T", "_A_C", "_A_N"}},
            {"getApropriaCSA", QJsonArray{f, p, "1", "1"}},
            {"getCSAAux", QJsonArray{f, p}},
            {"getPlanProj", QJsonArray{f, p}},
            {"getFiltroOper", QJsonArray{f, p, "", "T"}},
            {"getFiltroItemTrab", QJsonArray{f, p, "", "T"}},
        };
        auto timed = [](BareClient &c, const QString &method, const QJsonArray &params, const std::string &etag,
                        int expect) {
            const auto t = Clock::now();
            const Answer a = c.exchange(method, params, kHostEncodings, etag, false, false);
            const double ms = msSince(t);
            if (a.status != expect && !(expect == 304 && a.status == 200))
                fail(QStringLiteral("%1 answered %2").arg(method).arg(a.status));
            return std::pair<double, Answer>(ms, a);
        };
        QHash<QString, std::vector<double>> cold, warm, revalidated;
        QHash<QString, size_t> bytes;
        QHash<QString, int> statuses;
        bool validators = true;
        for (int run = 0; run < std::min(runs, 3); ++run) {
            restart();
            BareClient c(server.port, token);
            for (const auto &[method, params] : reads) {
                const auto [ms, a] = timed(c, method, params, {}, 200);
                cold[method].push_back(ms);
                bytes[method] = a.bytes;
            }
            for (const auto &[method, params] : reads) {
                std::string etag;
                for (int i = 0; i < runs; ++i) {
                    const auto [ms, a] = timed(c, method, params, {}, 200);
                    warm[method].push_back(ms);
                    etag = a.etag;
                }
                validators = validators && !etag.empty();
                if (etag.empty())
                    continue;
                for (int i = 0; i < runs; ++i) {
                    const auto [ms, a] = timed(c, method, params, etag, 304);
                    revalidated[method].push_back(ms);
                    statuses[method] = a.status;
                }
            }
        }
        QJsonObject b8;
        double worstCold = 0, worstWarm = 0, worst304 = 0;
        for (const auto &[method, params] : reads) {
            const double c = median(cold[method]), w = median(warm[method]), v = median(revalidated[method]);
            worstCold = std::max(worstCold, c);
            worstWarm = std::max(worstWarm, w);
            worst304 = std::max(worst304, v);
            const bool has304 = statuses.value(method) == 304;
            b8[method] = QJsonObject{{"cold_ms", c}, {"warm_ms", w}, {"bytes", double(bytes[method])},
                                     {"if_none_match_ms", revalidated[method].empty() ? QJsonValue() : QJsonValue(v)},
                                     {"not_modified", has304}};
            const QString third = revalidated[method].empty() ? QStringLiteral("no validator")
                                  : has304                     ? QString(fmt(v, 1) + " (304)")
                                                               : QString(fmt(v, 1) + " (answered 200)");
            say(QStringLiteral("B8: %1 cold %2 ms, warm %3 ms, If-None-Match %4, %5 bytes")
                    .arg(method, fmt(c), fmt(w, 1), third)
                    .arg(qint64(bytes[method])));
            table << Row{"B8", "  " + method + " cold / warm / warm with If-None-Match (ms)",
                         "<= 250 / <= 20 / <= 20", fmt(c) + " / " + fmt(w, 1) + " / " + third,
                         c <= 250 && w <= 20 && (revalidated[method].empty() || v <= 20)};
        }
        table.insert(table.size() - int(reads.size()),
                     Row{"B8", "reads at 5,000 act. / 200,000 bookings, host's encodings: slowest cold / warm / 304 (ms)",
                         "<= 250 / <= 20 / <= 20",
                         fmt(worstCold) + " / " + fmt(worstWarm, 1) + " / "
                             + (validators ? fmt(worst304, 1) : QStringLiteral("no validator")),
                         worstCold <= 250 && worstWarm <= 20 && worst304 <= 20});
        b8["validators"] = validators;
        results["B8"] = b8;
    }

    // ---- B12 -------------------------------------------------------------
    // Ten bare clients load the largest project at once (the screen's reads,
    // in its order) on a server just started; the server's counters show how
    // often each answer was built. Beside it, one client alone on a server
    // just started (cold), then again (warm).
    if (want("B12")) {
        QList<QPair<QString, QJsonArray>> sequence;
        QSet<QString> distinct;
        for (const QJsonObject &c : bigCalls) {
            const QJsonArray params = c.value("params").toArray();
            sequence.append({c.value("method").toString(), params});
            distinct.insert(c.value("method").toString() + QJsonDocument(params).toJson(QJsonDocument::Compact));
        }
        auto clientLoad = [&](BareClient &c) {
            const auto t = Clock::now();
            for (const auto &[method, params] : sequence)
                if (c.exchange(method, params, kHostEncodings, {}, true, false).status != 200)
                    return -1.0;
            return msSince(t);
        };
        restart();
        double loneCold = 0, loneWarm = 0;
        {
            BareClient c(server.port, token);
            loneCold = clientLoad(c);
            loneWarm = clientLoad(c);
        }
        restart();
        const double buildsBefore = serverMetric(server.port, "vor_answer_cache_builds_total");
        constexpr int kClients = 10;
        std::vector<double> each(kClients, -1);
        {
            std::atomic<int> ready{0};
            std::vector<std::thread> threads;
            for (int i = 0; i < kClients; ++i)
                threads.emplace_back([&, i] {
                    BareClient c(server.port, token);
                    ++ready;
                    while (ready < kClients)
                        std::this_thread::yield();
                    each[size_t(i)] = clientLoad(c);
                });
            for (std::thread &t : threads)
                t.join();
        }
        const double buildsAfter = serverMetric(server.port, "vor_answer_cache_builds_total");
        const double worst = *std::max_element(each.begin(), each.end());
        const bool failed = std::any_of(each.begin(), each.end(), [](double v) { return v < 0; });
        const double builds = buildsBefore < 0 || buildsAfter < 0 ? -1 : buildsAfter - buildsBefore;
        say(QStringLiteral("B12: 10 clients %1 ms (median %2), alone cold %3 ms, alone warm %4 ms; builds %5 for %6 reads")
                .arg(fmt(worst), fmt(median(each)), fmt(loneCold), fmt(loneWarm))
                .arg(builds)
                .arg(distinct.size()));
        table << Row{"B12", "10 clients load 5,000 / 200,000 at once, server just started: slowest client (ms); / alone, cold",
                     "<= 2x", fmt(worst) + "; " + fmt(worst / loneCold, 2) + "x (alone cold " + fmt(loneCold)
                                  + ", warm " + fmt(loneWarm) + ")",
                     !failed && worst <= 2 * loneCold}
              << Row{"B12", "  answers built during it / distinct reads", "equal",
                     (builds < 0 ? QStringLiteral("no counter") : fmt(builds)) + " / " + QString::number(distinct.size()),
                     builds == distinct.size()};
        QJsonArray clients;
        for (double v : each)
            clients.append(v);
        results["B12"] = QJsonObject{{"clients_ms", clients}, {"alone_cold_ms", loneCold}, {"alone_warm_ms", loneWarm},
                                     {"builds", builds}, {"distinct_reads", int(distinct.size())}};
    }

    // ---- B5 --------------------------------------------------------------
    if (want("B5")) {
        // 16 kept-alive clients for a fixed time: requests per second and p99.
        auto hammer = [](int port, const std::string &request, double seconds) {
            std::atomic<bool> stop{false};
            std::vector<std::vector<double>> latencies(16);
            std::vector<std::thread> threads;
            std::atomic<int> failures{0};
            for (int i = 0; i < 16; ++i)
                threads.emplace_back([&, i] {
                    auto c = std::make_unique<RawClient>(port, request);
                    while (!stop) {
                        const auto t = Clock::now();
                        if (!c->exchange()) {
                            ++failures;
                            c = std::make_unique<RawClient>(port, request);
                        }
                        latencies[size_t(i)].push_back(msSince(t));
                    }
                });
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            stop = true;
            for (std::thread &t : threads)
                t.join();
            std::vector<double> all;
            for (const auto &l : latencies)
                all.insert(all.end(), l.begin(), l.end());
            std::sort(all.begin(), all.end());
            const double p99 = all.empty() ? 0 : all[size_t(double(all.size() - 1) * 0.99)];
            return std::tuple<double, double, int>(double(all.size()) / seconds, p99, failures.load());
        };
        const std::string rpcBody = QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "getApropriaCSA"},
                                                              {"params", QJsonArray{"0001", big.code, "1", "1"}}})
                                        .toJson(QJsonDocument::Compact)
                                        .toStdString();
        const httplib::Headers auth{{"Authorization", "Bearer " + token}};
        const std::string rpcRequest = "POST /VOR01300.rdmConcAtivProje HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                       "Authorization: Bearer " + token + "\r\nContent-Type: application/json\r\n"
                                       "Content-Length: " + std::to_string(rpcBody.size()) + "\r\n\r\n" + rpcBody;
        const auto [rps, p99, failures] = hammer(server.port, rpcRequest, 3.0);
        QJsonObject b5{{"requests_per_s", rps}, {"p99_ms", p99}, {"failures", failures}};
        QString nginxText = QStringLiteral("nginx not installed");
        const QString nginx = cli.value("nginx");
        if (QFileInfo(nginx).isExecutable()) {
            // The same answer bytes as a static file, under the same load tool.
            const QString root = work + "/nginx";
            QDir().mkpath(root + "/logs");
            {
                httplib::Client c("127.0.0.1", server.port);
                const httplib::Result r = c.Post("/VOR01300.rdmConcAtivProje", auth, rpcBody, "application/json");
                QFile f(root + "/answer.json");
                f.open(QIODevice::WriteOnly);
                f.write(r ? r->body.data() : "", r ? qint64(r->body.size()) : 0);
            }
            const int nginxPort = server.port + 1;
            QFile conf(root + "/nginx.conf");
            conf.open(QIODevice::WriteOnly);
            conf.write(QStringLiteral("daemon off; worker_processes 2; pid %1/nginx.pid; error_log %1/logs/error.log;\n"
                                      "events { worker_connections 256; }\n"
                                      "http { access_log off; keepalive_requests 1000000;\n"
                                      "  server { listen 127.0.0.1:%2; root %1; location / { } } }\n")
                           .arg(root)
                           .arg(nginxPort)
                           .toUtf8());
            conf.close();
            QProcess n;
            n.start(nginx, {"-p", root, "-c", root + "/nginx.conf"});
            n.waitForStarted();
            const bool up = QTest::qWaitFor([&] {
                httplib::Client c("127.0.0.1", nginxPort);
                return bool(c.Get("/answer.json"));
            }, 5000);
            if (up) {
                const auto [nrps, np99, nfail] =
                    hammer(nginxPort, "GET /answer.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 3.0);
                b5["nginx_requests_per_s"] = nrps;
                b5["nginx_p99_ms"] = np99;
                b5["ratio_to_nginx"] = rps / nrps;
                nginxText = QStringLiteral("nginx %1/s, p99 %2 ms; ratio %3").arg(fmt(nrps), fmt(np99, 1), fmt(rps / nrps, 2));
            }
            n.terminate();
            n.waitForFinished(5000);
        }
        table << Row{"B5", "16 kept-alive clients, getApropriaCSA (req/s; p99 ms)", ">= 5,000; <= 20",
                     fmt(rps) + "; " + fmt(p99, 1) + " (" + nginxText + ")", rps >= 5000 && p99 <= 20}
              << Row{"B5", "  ratio to nginx serving the same bytes", "a result",
                     b5.contains("ratio_to_nginx") ? fmt(b5["ratio_to_nginx"].toDouble(), 2) : QStringLiteral("no nginx"),
                     true};
        results["B5"] = b5;
    }

    // ---- report ----------------------------------------------------------
    server.stop();
    const double total = msSince(benchStart) / 1000;
    std::printf("\n| # | what | target | measured | met |\n|---|---|---|---|---|\n");
    QJsonArray rows;
    for (const Row &r : table) {
        std::printf("| %s | %s | %s | %s | %s |\n", qPrintable(r.id), qPrintable(r.what), qPrintable(r.target),
                    qPrintable(r.value), r.met ? "yes" : "no");
        rows.append(QJsonObject{{"id", r.id}, {"what", r.what}, {"target", r.target}, {"measured", r.value},
                                {"met", r.met}});
    }
    std::printf("\n%d runs per figure; whole bench %.0f s.\n", runs, total);
    results["table"] = rows;
    results["runs"] = runs;
    results["seconds"] = total;
    results["date"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    results["machine"] = QStringLiteral("%1 processors").arg(std::thread::hardware_concurrency());
    results["load_average_at_start"] = loadAtStart;
    results["load_average_at_end"] = loadAverage();
    if (cli.isSet("out")) {
        QFile out(cli.value("out"));
        if (!out.open(QIODevice::WriteOnly))
            fail("cannot write " + cli.value("out"));
        out.write(QJsonDocument(results).toJson());
    }
    std::fflush(stdout);
    std::_Exit(0); // the screen and its host are not torn down: nothing of theirs is measured after this
}

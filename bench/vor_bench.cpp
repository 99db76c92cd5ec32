// vor-bench: the figures of docs/performance.md (B1-B8) in one run.
//
//   vor-bench --bin DIR --out FILE.json [--runs N] [--work DIR] [--nginx PATH]
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
#include "NumberFormat.h"
#include "Routines.h"
#include "Services.h"
#include "ShowAvi.h"
#include "VOR01300.h"

#include <httplib.h>
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

// A bare HTTP client: one kept-alive connection, the requests as bytes.
class BareClient
{
public:
    BareClient(int port, const std::string &token) : m_client("127.0.0.1", port), m_token(token)
    {
        m_client.set_keep_alive(true);
        m_client.set_decompress(false);
        m_client.set_read_timeout(120, 0);
    }
    // Sends one call; the answer is decoded as the host would decode it.
    size_t call(const QString &method, const QJsonArray &params, const std::string &acceptEncoding)
    {
        const QByteArray body = QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method},
                                                          {"params", params}})
                                    .toJson(QJsonDocument::Compact);
        httplib::Headers headers{{"Authorization", "Bearer " + m_token}};
        if (!acceptEncoding.empty())
            headers.emplace("Accept-Encoding", acceptEncoding);
        const httplib::Result r = m_client.Post("/VOR01300.rdmConcAtivProje", headers, body.toStdString(),
                                                "application/json");
        if (!r || r->status != 200)
            fail(QStringLiteral("%1 failed").arg(method));
        const std::string coding = r->get_header_value("Content-Encoding");
        if (coding == "zstd") {
            const unsigned long long size = ZSTD_getFrameContentSize(r->body.data(), r->body.size());
            std::string plain(size_t(size), '\0');
            ZSTD_decompress(plain.data(), plain.size(), r->body.data(), r->body.size());
            return plain.size();
        }
        if (coding == "gzip") {
            std::string plain;
            httplib::detail::gzip_decompressor d;
            d.decompress(r->body.data(), r->body.size(), [&plain](const char *p, size_t n) {
                plain.append(p, n);
                return true;
            });
            return plain.size();
        }
        return r->body.size();
    }

private:
    httplib::Client m_client;
    std::string m_token;
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
    bool exchange()
    {
        if (m_fd < 0 || ::send(m_fd, m_request.data(), m_request.size(), MSG_NOSIGNAL) != ssize_t(m_request.size()))
            return false;
        m_buffer.clear();
        size_t headEnd = std::string::npos, total = 0;
        char chunk[65536];
        while (true) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            m_buffer.append(chunk, size_t(n));
            if (headEnd == std::string::npos && (headEnd = m_buffer.find("\r\n\r\n")) != std::string::npos) {
                const size_t at = m_buffer.find("Content-Length: ");
                if (at == std::string::npos || at > headEnd)
                    return false;
                total = headEnd + 4 + std::strtoull(m_buffer.c_str() + at + 16, nullptr, 10);
            }
            if (headEnd != std::string::npos && m_buffer.size() >= total)
                return m_buffer.compare(0, 12, "HTTP/1.1 200") == 0;
        }
    }

private:
    int m_fd = -1;
    std::string m_request;
    std::string m_buffer;
};

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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    QCommandLineParser cli;
    cli.addOptions({{"bin", "Folder of vor01300-server and vor-fixture.", "DIR"},
                    {"out", "Results file (JSON).", "FILE"},
                    {"runs", "Runs per figure (median).", "N", "5"},
                    {"work", "Folder for fixtures and the database (default: a temporary one).", "DIR"},
                    {"nginx", "nginx program for the B5 comparison (skipped when missing).", "PATH", "/usr/sbin/nginx"}});
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
    QFile::remove(db);
    QFile::remove(db + "-wal");
    QFile::remove(db + "-shm");
    QList<Project> all{tiny};
    for (const Project &p : b7)
        all << p;
    all << big << approve;
    for (qsizetype i = 0; i < all.size(); ++i) {
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
    // The same requests from the bare client, in the same order.
    auto replay = [&](const QList<QJsonObject> &calls) {
        BareClient c(server.port, token);
        const auto t = Clock::now();
        for (const QJsonObject &call : calls)
            c.call(call.value("method").toString(), call.value("params").toArray(), kHostEncodings);
        return msSince(t);
    };
    auto loadSeries = [&](const QString &code, int n, double *bare, QStringList *methods) {
        std::vector<double> screen, client;
        for (int i = 0; i < n; ++i) {
            screen.push_back(load(code));
            const QList<QJsonObject> calls = server.callsSinceMark();
            if (methods && methods->isEmpty())
                for (const QJsonObject &c : calls)
                    *methods << c.value("method").toString();
            client.push_back(replay(calls));
        }
        if (bare)
            *bare = median(client);
        return median(screen);
    };

    QJsonObject results;
    QList<Row> table;
    auto fmt = [](double v, int decimals = 0) { return QString::number(v, 'f', decimals); };

    // ---- B1, B6 ----------------------------------------------------------
    load(b7[1].code); // warm-up: caches, first paint of the grid
    double bare1 = 0;
    QStringList loadMethods;
    const double b1 = loadSeries(b7[1].code, runs, &bare1, &loadMethods);
    const double hostRss = memoryMb(0, "VmRSS:"), hostPeak = memoryMb(0, "VmHWM:");
    const double serverRss = memoryMb(server.pid(), "VmRSS:"), serverPeak = memoryMb(server.pid(), "VmHWM:");
    say(QStringLiteral("B1: load %1 ms, bare client %2 ms (%3)").arg(fmt(b1), fmt(bare1), loadMethods.join(",")));
    table << Row{"B1", "load 2,000 act. / 50,000 bookings (median ms)", "<= 600", fmt(b1), b1 <= 600}
          << Row{"B1", "same requests, bare HTTP client (ms); ratio", "<= 1.5x",
                 fmt(bare1) + "; " + fmt(b1 / bare1, 2) + "x", b1 <= 1.5 * bare1};
    table << Row{"B6", "memory after B1, host / server (MB resident)", "<= 200 / <= 150",
                 fmt(hostRss) + " / " + fmt(serverRss), hostRss <= 200 && serverRss <= 150};
    results["B1"] = QJsonObject{{"load_ms", b1}, {"bare_client_ms", bare1}, {"ratio", b1 / bare1},
                                {"requests", QJsonArray::fromStringList(loadMethods)}};
    results["B6"] = QJsonObject{{"host_rss_mb", hostRss}, {"host_peak_mb", hostPeak}, {"server_rss_mb", serverRss},
                                {"server_peak_mb", serverPeak}};

    // ---- B7 --------------------------------------------------------------
    QJsonObject growth;
    double t1k = 0, t8k = 0;
    for (const Project &p : b7) {
        const double t = p.activities == 2000 ? b1 : loadSeries(p.code, std::max(1, runs - 2), nullptr, nullptr);
        growth[QString::number(p.activities)] = t;
        if (p.activities == 1000)
            t1k = t;
        if (p.activities == 8000)
            t8k = t;
        say(QStringLiteral("B7: %1 activities: %2 ms").arg(p.activities).arg(fmt(t)));
    }
    table << Row{"B7", QStringLiteral("load at 1k / 2k / 4k / 8k activities (ms); 8k/1k"), "<= 10",
                 QStringLiteral("%1 / %2 / %3 / %4; %5")
                     .arg(fmt(growth["1000"].toDouble()), fmt(growth["2000"].toDouble()), fmt(growth["4000"].toDouble()),
                          fmt(t8k), fmt(t8k / t1k, 1)),
                 t8k / t1k <= 10};
    growth["ratio_8k_1k"] = t8k / t1k;
    results["B7"] = growth;

    // ---- B2 --------------------------------------------------------------
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

    // ---- B3 --------------------------------------------------------------
    // The largest project loads in the screen too (once; its figure is informative).
    const double bigLoad = load(big.code);
    table << Row{"-", "load 5,000 act. / 200,000 bookings in the screen (ms, one run)", "a result", fmt(bigLoad), true};
    results["load_5000_200000_ms"] = bigLoad;
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

    // ---- B4 --------------------------------------------------------------
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

    // ---- B8 --------------------------------------------------------------
    {
        BareClient c(server.port, token);
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
        QJsonObject b8;
        double worst = 0;
        QString worstName;
        for (const auto &[method, params] : reads) {
            QJsonObject m;
            for (const char *enc : {"", "gzip"}) {
                std::vector<double> v;
                size_t bytes = 0;
                for (int i = 0; i < runs; ++i) {
                    const auto t = Clock::now();
                    bytes = c.call(method, params, enc);
                    v.push_back(msSince(t));
                }
                const double med = median(v);
                m[*enc ? "gzip_ms" : "plain_ms"] = med;
                m["bytes"] = double(bytes);
                if (med > worst) {
                    worst = med;
                    worstName = method + (*enc ? " (gzip)" : "");
                }
            }
            b8[method] = m;
            say(QStringLiteral("B8: %1 plain %2 ms, gzip %3 ms, %4 bytes")
                    .arg(method, fmt(m["plain_ms"].toDouble()), fmt(m["gzip_ms"].toDouble()))
                    .arg(qint64(m["bytes"].toDouble())));
        }
        table << Row{"B8", "reads at 5,000 act. / 200,000 bookings: slowest (median ms)", "<= 250 each",
                     fmt(worst) + " " + worstName, worst <= 250};
        for (const auto &[method, params] : reads) {
            const QJsonObject m = b8[method].toObject();
            table << Row{"B8", "  " + method + " plain / gzip (ms)", "<= 250",
                         fmt(m["plain_ms"].toDouble()) + " / " + fmt(m["gzip_ms"].toDouble()),
                         m["plain_ms"].toDouble() <= 250 && m["gzip_ms"].toDouble() <= 250};
        }
        results["B8"] = b8;
    }

    // ---- B5 --------------------------------------------------------------
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
                 fmt(rps) + "; " + fmt(p99, 1) + " (" + nginxText + ")", rps >= 5000 && p99 <= 20};
    results["B5"] = b5;

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

// Load and abuse of the application server over loopback: the scenarios H1-H7
// of docs/operations.md and the abuse cases H11-H14. Starts the built server
// itself, on a fresh database per scenario, and reads that database afterwards
// to check the writes.
//
// Run: build/bin/vor_load [--scenario H1,H2,...|H11a..H11d|all] [--seconds N] [--think-ms N]
//                         [--postgresql postgresql://USER@HOST:PORT/DB]  (H5; or VOR_TEST_POSTGRESQL)
//                         [--server-bin PATH]
//
// H8-H10 and B9 (not in "all") use a fleet already running, nginx in front of
// servers on one PostgreSQL database (scripts/fleet-check.sh starts one and
// runs them), and exit with 1 when one of them misses its target:
//      build/bin/vor_load --prepare-fleet-db URL   (the data, before the servers start on URL)
//      build/bin/vor_load --scenario H8,H9,H10a..H10d,B9 --fleet HOST:PORT (nginx) --fleet-ports P1,P2,P3
//                         --postgresql URL [--fleet-pids PID1,PID2,PID3 --postgres-pid PID --nginx-pid PID] (B9)
#include "Database.h"
#include "Fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <httplib.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const char *const kModule = "/VOR01300.rdmConcAtivProje";

double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// ---- data ------------------------------------------------------------------

// One branch, operators ANA (responsible) and BIA, one project with
// `activities` activities and `bookings` bookings spread over them.
QByteArray fixture(int activities, int bookings)
{
    QJsonArray acts;
    for (int i = 0; i < activities; ++i) {
        QJsonArray books;
        const int mine = bookings / activities + (i < bookings % activities ? 1 : 0);
        for (int b = 0; b < mine; ++b) {
            const int day = 1 + b % 28, hour = 8 + b % 9;
            books.append(QJsonObject{
                {"DTHRINIAPROCSA", QString::asprintf("%02d/03/2026 %02d:00:00", day, hour)},
                {"DTHRFIMAPROCSA", QString::asprintf("%02d/03/2026 %02d:30:00", day, hour)},
                {"VRPERCCONCL", 10},
                {"INCLUSAO", "ANA 01/03/2026 12:00"},
                {"DSOBSAPROATVCSA", QString::asprintf("Apontamento %d da atividade %d", b, i)}});
        }
        acts.append(QJsonObject{{"CDSEQCRONPRJ", QString::asprintf("%05d", i + 1)},
                                {"NRBASELINEPR", "001"},
                                {"CDVERCRONPRJ", "001"},
                                {"CDITEMTRAB", "IT01"},
                                {"DESCRICAO", QString::asprintf("Atividade %d", i + 1)},
                                {"CDOPERRESP", i % 2 ? "BIA" : "ANA"},
                                {"NRTAREFA", QString::asprintf("T%d", i + 1)},
                                {"NRPLATIVTARE", "1"},
                                {"QTTEMPLAITAR", 8},
                                {"DTINIITCRPRJ", "2026-03-01T08:00:00"},
                                {"DTFINITCRPRJ", "2026-03-31T18:00:00"},
                                {"VRPERCCONCL", 0},
                                {"SITUACAO", "A"},
                                {"bookings", books}});
    }
    const QJsonObject root{
        {"branches", QJsonArray{QJsonObject{{"CDFILIAL", "0001"}, {"NMFILIAL", "Matriz"}}}},
        {"operators", QJsonArray{QJsonObject{{"CDOPERADOR", "ANA"}, {"NMOPERADOR", "Ana Lima"}, {"password", "ana123"}},
                                 QJsonObject{{"CDOPERADOR", "BIA"}, {"NMOPERADOR", "Beatriz Alves"}, {"password", "bia123"}}}},
        {"workItems", QJsonArray{QJsonObject{{"CDITEMTRAB", "IT01"}, {"CDREDUITTRAB", "ANALISE"}, {"NMITEMTRAB", "Análise"}}}},
        {"projects", QJsonArray{QJsonObject{{"CDFILIAL", "0001"},
                                            {"CDPROJETO", "P1"},
                                            {"NMPROJETO", "Carga"},
                                            {"CDOPERESPRJ", "ANA"},
                                            {"activities", acts}}}}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

// ---- the server ------------------------------------------------------------

struct Server
{
    QProcess process;
    int port = 0;
    qint64 pid = 0;
    QString dbUrl;

    bool start(const QString &bin, const QString &databaseUrl, const QStringList &extra, const QString &logFile)
    {
        dbUrl = databaseUrl;
        process.setStandardErrorFile(logFile);
        process.start(bin, QStringList{"--database", databaseUrl, "--listen", "127.0.0.1:0"} + extra);
        if (!process.waitForStarted(10000))
            return false;
        QByteArray line;
        while (!line.endsWith('\n')) {
            if (!process.waitForReadyRead(120000))
                return false;
            line += process.readAllStandardOutput();
        }
        port = QRegularExpression(":(\\d+)\n$").match(QString::fromUtf8(line)).captured(1).toInt();
        pid = process.processId();
        return port > 0;
    }
    void stop()
    {
        process.terminate();
        process.waitForFinished(30000);
    }
    qint64 memoryKiB(const char *field) const
    {
        QFile f(QStringLiteral("/proc/%1/status").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &l : f.readAll().split('\n'))
            if (l.startsWith(QByteArray(QByteArray(field) + ':')))
                return l.mid(qsizetype(qstrlen(field)) + 1).trimmed().split(' ').value(0).toLongLong();
        return -1;
    }
};

// ---- clients ---------------------------------------------------------------

std::string rpc(const char *method, const QJsonArray &params, int id)
{
    return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

std::string login(int port, const char *op, const char *password)
{
    httplib::Client c("127.0.0.1", port);
    const auto r = c.Post("/session", QJsonDocument(QJsonObject{{"operator", op}, {"password", password}})
                                          .toJson(QJsonDocument::Compact).toStdString(),
                          "application/json");
    if (!r || r->status != 200)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object().value("token").toString().toStdString();
}

struct Stats
{
    std::vector<double> ms;
    long errors = 0;
    long writes = 0;

    void merge(const Stats &o)
    {
        ms.insert(ms.end(), o.ms.begin(), o.ms.end());
        errors += o.errors;
        writes += o.writes;
    }
    double pct(double p)
    {
        if (ms.empty())
            return 0;
        std::sort(ms.begin(), ms.end());
        return ms[std::min(ms.size() - 1, size_t(p / 100.0 * double(ms.size())))];
    }
};

bool okReply(const httplib::Result &r)
{
    return r && r->status == 200 && r->body.find("\"result\"") != std::string::npos;
}

// A kept-alive client: 85 % reads, 15 % percentage changes of its own activity
// (`activity` empty: reads only). Remembers the last value acknowledged.
int g_thinkMs = 100; // a client's pause after each answer (a person reading the screen)

// The next call of the mix; `*value` is the percentage it writes, -1 for a read.
std::string mixedRequest(std::mt19937 &rng, const QString &activity, int *id, int *value)
{
    const int dice = int(rng() % 100);
    *value = -1;
    if (!activity.isEmpty() && dice < 15) {
        *value = int(rng() % 101);
        return rpc("SetAtualizaConcCSA", {"0001", "P1", "001", "001", activity, QString::number(*value)}, ++*id);
    }
    if (dice < 45)
        return rpc("getApropriaCSA", {"0001", "P1", QStringLiteral("T%1").arg(1 + rng() % 100), "1"}, ++*id);
    if (dice < 70)
        return rpc("getProjeto", {"0001", "P1", ""}, ++*id);
    if (dice < 90)
        return rpc("getFiltroOper", {"0001", "P1", "", "T"}, ++*id);
    return rpc("getPlanProj", {"0001", "P1"}, ++*id);
}

void mixedClient(int port, const std::string &token, const QString &activity, Clock::time_point until, Stats *stats,
                 int *lastAcked, unsigned seed)
{
    httplib::Client c("127.0.0.1", port);
    c.set_keep_alive(true);
    c.set_read_timeout(30, 0);
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    std::mt19937 rng(seed);
    int id = 0;
    while (Clock::now() < until) {
        int value = -1;
        const std::string body = mixedRequest(rng, activity, &id, &value);
        const auto t0 = Clock::now();
        const auto r = c.Post(kModule, auth, body, "application/json");
        stats->ms.push_back(msBetween(t0, Clock::now()));
        if (g_thinkMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(g_thinkMs / 2 + int(rng() % unsigned(g_thinkMs + 1))));
        if (!okReply(r)) {
            ++stats->errors;
            continue;
        }
        if (value >= 0) {
            ++stats->writes;
            *lastAcked = value;
        }
    }
}

// ---- hostile clients ---------------------------------------------------------

// `receiveBuffer` (bytes, 0: the system's) is set before connecting so that the
// window offered to the server is small from the start.
int connectFrom(int port, const char *from, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in local{}, remote{};
    local.sin_family = remote.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    remote.sin_port = htons(quint16(port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// `count` connections from `from` that send a request's head one byte a
// second (slowHead) or a head and a bit of a body and then nothing; each one
// the server drops is opened again. `opened` (optional) counts the connections made.
void attackers(int port, const char *from, int count, bool slowHead, const std::atomic<bool> &stop,
               std::atomic<long> *dropped, std::atomic<long> *opened = nullptr)
{
    struct Conn { int fd = -1; size_t sent = 0; };
    std::vector<Conn> conns;
    conns.resize(size_t(count));
    const std::string head = "POST /session HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nX-Pad: "
                             + std::string(4000, 'a') + "\r\n\r\n";
    const std::string stalled = "POST /session HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n{\"operator\":";
    while (!stop) {
        for (Conn &c : conns) {
            if (c.fd >= 0) {
                char buf[512];
                const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    ::close(c.fd);
                    c.fd = -1;
                    ++*dropped;
                }
            }
            if (c.fd < 0) {
                c.fd = connectFrom(port, from);
                c.sent = 0;
                if (c.fd >= 0 && opened)
                    ++*opened;
                if (c.fd >= 0 && !slowHead)
                    ::send(c.fd, stalled.data(), stalled.size(), MSG_NOSIGNAL);
                continue;
            }
            if (slowHead && c.sent < head.size()) {
                ::send(c.fd, head.data() + c.sent, 1, MSG_NOSIGNAL);
                ++c.sent;
            }
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    for (Conn &c : conns)
        if (c.fd >= 0)
            ::close(c.fd);
}

QByteArray gzipPrefixOfZeros(qint64 inflated, qint64 maxCompressed)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const QByteArray zeros(1 << 20, '\0');
    QByteArray out;
    std::vector<char> buf(1 << 16);
    for (qint64 left = inflated; left > 0 && out.size() < maxCompressed; left -= zeros.size()) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        z.avail_in = uInt(std::min<qint64>(left, zeros.size()));
        const int flush = left <= zeros.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef *>(buf.data());
            z.avail_out = uInt(buf.size());
            deflate(&z, flush);
            out.append(buf.data(), qsizetype(buf.size() - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out.left(maxCompressed);
}

QByteArray gzipOf(const QByteArray &data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

// ---- raw HTTP ------------------------------------------------------------------

// The HTTP client library repairs or refuses what the abuse cases must send, and
// keeps whole replies in memory; these send bytes as they are and count replies.

bool sendAll(int fd, const std::string &data)
{
    for (size_t off = 0; off < data.size();) {
        const ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += size_t(n);
    }
    return true;
}

struct RawReply
{
    int status = 0;        // 0: no complete head came
    size_t bytes = 0;      // head and body as they came, chunk framing included
    std::string head;
    std::string body;      // its first bytes only
    std::string after;     // whatever came after the reply
    bool complete = false;
    bool closed = false;   // the server ended the connection (end of stream or reset)
};

// Reads one reply by its Content-Length, chunks or the end of the stream, until
// `deadline` or `abort`. Waits in short slices so that an abort ends a read of
// gigabytes promptly.
RawReply readReply(int fd, Clock::time_point deadline, const std::atomic<bool> *abort = nullptr, size_t keep = 4096)
{
    RawReply r;
    std::string buf;
    std::vector<char> chunk(1 << 16);
    const auto more = [&]() -> bool {
        for (;;) {
            if (abort && *abort)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<long long>(left, 100))) <= 0)
                continue;
            const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
            if (n <= 0) {
                r.closed = true;
                return false;
            }
            buf.append(chunk.data(), size_t(n));
            return true;
        }
    };
    const auto consume = [&](size_t n) -> bool {
        while (n > 0) {
            if (buf.empty() && !more())
                return false;
            const size_t k = std::min(n, buf.size());
            if (r.body.size() < keep)
                r.body.append(buf, 0, std::min(k, keep - r.body.size()));
            buf.erase(0, k);
            r.bytes += k;
            n -= k;
        }
        return true;
    };
    const auto line = [&](std::string *out) -> bool {
        size_t eol;
        while ((eol = buf.find("\r\n")) == std::string::npos)
            if (!more())
                return false;
        *out = buf.substr(0, eol);
        buf.erase(0, eol + 2);
        r.bytes += eol + 2;
        return true;
    };
    size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
        if (!more()) {
            r.after = buf;
            return r;
        }
    }
    r.head = buf.substr(0, end + 4);
    buf.erase(0, end + 4);
    r.bytes = r.head.size();
    if (r.head.rfind("HTTP/1.", 0) == 0 && r.head.size() > 12)
        r.status = std::atoi(r.head.c_str() + 9);
    const std::string lower = QByteArray::fromStdString(r.head).toLower().toStdString();
    const auto header = [&](const char *name) -> std::string {
        const size_t at = lower.find(std::string("\r\n") + name + ":");
        if (at == std::string::npos)
            return {};
        const size_t from = at + 3 + qstrlen(name);
        return QByteArray::fromStdString(lower.substr(from, lower.find("\r\n", from) - from)).trimmed().toStdString();
    };
    const std::string length = header("content-length");
    if (header("transfer-encoding").find("chunked") != std::string::npos) {
        for (std::string l;;) {
            if (!line(&l))
                return r;
            const size_t size = std::strtoul(l.c_str(), nullptr, 16);
            if (size == 0) {
                do { // trailers, up to the empty line
                    if (!line(&l))
                        return r;
                } while (!l.empty());
                break;
            }
            if (!consume(size) || !line(&l))
                return r;
        }
    } else if (!length.empty()) {
        if (!consume(std::strtoull(length.c_str(), nullptr, 10)))
            return r;
    } else if (r.status >= 200 && r.status != 204 && r.status != 304) {
        do // delimited by the end of the stream
            consume(buf.size());
        while (more());
        r.complete = r.closed;
        return r;
    }
    r.complete = true;
    r.after = buf;
    return r;
}

// Adds to r.after whatever else comes, until the server closes, `deadline` or `abort`.
void readUntilClosed(int fd, RawReply *r, Clock::time_point deadline, const std::atomic<bool> *abort = nullptr)
{
    char buf[4096];
    while (!r->closed && !(abort && *abort)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<long long>(left, 100))) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            r->closed = true;
        else
            r->after.append(buf, size_t(n));
    }
}

QString statusCounts(const std::map<int, long> &counts)
{
    QStringList parts;
    for (const auto &[status, n] : counts)
        parts << QStringLiteral("%1 × %2")
                     .arg(status > 0    ? QString::number(status)
                          : status == 0 ? QStringLiteral("none")
                                        : QStringLiteral("no connection"))
                     .arg(n);
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(", ");
}

// Client ports of the connections the server at `port` still holds open on its
// side: a client that reads nothing never sees the server's close, since it
// waits behind the unread reply.
std::set<int> heldByServer(int port)
{
    std::set<int> out;
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> cols = line.simplified().split(' ');
        if (cols.size() < 4 || cols[3] != "01") // ESTABLISHED
            continue;
        if (cols[1].mid(cols[1].indexOf(':') + 1).toInt(nullptr, 16) == port)
            out.insert(cols[2].mid(cols[2].indexOf(':') + 1).toInt(nullptr, 16));
    }
    return out;
}

int localPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// A stop that can be waited on: a case ends at its deadline, or at once when
// the server has to be put down; pauses in between wake up for it too.
struct StopFlag
{
    std::atomic<bool> set{false};
    std::mutex mutex;
    std::condition_variable cv;

    void raise()
    {
        {
            std::lock_guard lock(mutex);
            set = true;
        }
        cv.notify_all();
    }
    bool waitFor(std::chrono::milliseconds d) // true when stopped
    {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, d, [&] { return set.load(); });
    }
    void waitUntil(Clock::time_point t)
    {
        std::unique_lock lock(mutex);
        cv.wait_until(lock, t, [&] { return set.load(); });
    }
};

// ---- checks on the database --------------------------------------------------

struct AuditCheck
{
    long rows = 0;
    long wrongPrevious = 0; // rows whose previous value is not the value they replaced
    long lostWrites = 0;    // acknowledged writes without their row, or a final value no row explains
};

// Every activity's audit rows must chain from its first value to its current one.
AuditCheck checkAudit(const QString &dbUrl, const std::map<QString, std::pair<long, std::vector<int>>> &acked)
{
    AuditCheck out;
    QString error;
    Database db(*DatabaseConfig::parse(dbUrl, &error));
    for (const auto &[activity, ack] : acked) {
        QSqlQuery q(db.connection());
        q.prepare("SELECT CAST(VRANTERIOR AS INTEGER), CAST(VRNOVO AS INTEGER) FROM AUDITORIA WHERE DSEVENTO = 'PERCENTUAL'"
                  " AND CDSEQCRONPRJ = CAST(:S AS VARCHAR(5))");
        q.bindValue(":S", activity);
        q.exec();
        std::vector<long> previous, next;
        while (q.next()) {
            previous.push_back(q.value(0).toLongLong());
            next.push_back(q.value(1).toLongLong());
        }
        out.rows += long(previous.size());
        out.lostWrites += std::max(0L, ack.first - long(previous.size()));
        QSqlQuery f(db.connection());
        f.prepare("SELECT CAST(VRPERCCONCL AS INTEGER) FROM ATIVIDADE WHERE CDSEQCRONPRJ = CAST(:S AS VARCHAR(5))");
        f.bindValue(":S", activity);
        f.exec();
        const long final = f.next() ? f.value(0).toLongLong() : -1;
        // The chain: previous values = {0 (the start)} + new values - {final}.
        std::vector<long> expected = next;
        const auto it = std::find(expected.begin(), expected.end(), final);
        if (it == expected.end() && !next.empty())
            ++out.lostWrites;
        else if (it != expected.end())
            expected.erase(it);
        expected.push_back(0);
        std::sort(previous.begin(), previous.end());
        std::sort(expected.begin(), expected.end());
        std::vector<long> diff;
        std::set_difference(previous.begin(), previous.end(), expected.begin(), expected.end(), std::back_inserter(diff));
        if (!next.empty())
            out.wrongPrevious += long(diff.size());
    }
    return out;
}

// ---- scenarios ---------------------------------------------------------------

struct Context
{
    QString serverBin;
    QString postgresUrl;
    int seconds = 30;
    bool secondsGiven = false; // else each fleet scenario takes its own length
    QTemporaryDir dir;
    // A fleet started by the caller (scripts/fleet-check.sh): nginx in front,
    // the servers behind it in the same order as their process ids.
    int fleetPort = 0;
    std::vector<int> fleetPorts;
    std::vector<qint64> fleetPids;
    qint64 postgresPid = 0; // the postmaster; found by the URL's port when not given
    qint64 nginxPid = 0;
};

QString freshSqlite(Context &ctx, const QString &name, const QByteArray &fixtureJson)
{
    const QString dbUrl = "sqlite:" + ctx.dir.filePath(name + ".sqlite");
    QString error;
    Database db(*DatabaseConfig::parse(dbUrl, &error));
    db.createSchema();
    Fixture::import(db, fixtureJson);
    return dbUrl;
}

QString freshPostgres(Context &ctx, const QByteArray &fixtureJson)
{
    const QString schema = "bench" + QUuid::createUuid().toString(QUuid::Id128);
    QString error;
    {
        Database admin(*DatabaseConfig::parse(ctx.postgresUrl, &error));
        QSqlQuery q(admin.connection());
        q.exec("CREATE SCHEMA " + schema);
    }
    const QString dbUrl = ctx.postgresUrl + "?schema=" + schema;
    Database db(*DatabaseConfig::parse(dbUrl, &error));
    db.createSchema();
    Fixture::import(db, fixtureJson);
    return dbUrl;
}

void report(const char *id, const char *what, const QString &result)
{
    std::printf("%s | %s | %s\n", id, what, qPrintable(result));
    std::fflush(stdout);
}

// H1 and H2 (attack) and H5 (PostgreSQL, writers on shared activities).
void mixedLoad(Context &ctx, const char *id, bool underAttack, bool postgres)
{
    const QByteArray data = fixture(100, 2000);
    const QString dbUrl = postgres ? freshPostgres(ctx, data) : freshSqlite(ctx, QString::fromLatin1(id), data);
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath(QString::fromLatin1(id) + ".log"))) {
        report(id, "server", "did not start");
        return;
    }
    const std::string token = login(server.port, "ANA", "ana123");
    std::atomic<bool> stopAttack{false};
    std::atomic<long> dropped{0};
    std::vector<std::thread> attack;
    if (underAttack) {
        const char *addresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
        for (const char *a : addresses)
            attack.emplace_back(attackers, server.port, a, 50, true, std::cref(stopAttack), &dropped, nullptr);
        attack.emplace_back(attackers, server.port, "127.0.0.6", 40, false, std::cref(stopAttack), &dropped, nullptr);
        std::this_thread::sleep_for(std::chrono::seconds(2)); // all of them connected first
    }
    constexpr int clients = 50;
    std::vector<Stats> stats(clients);
    std::vector<int> last(clients, -1);
    std::vector<QString> activity(clients);
    for (int i = 0; i < clients; ++i) // own activity each, or (PostgreSQL) ten writers per activity
        activity[size_t(i)] = QString::asprintf("%05d", postgres ? 1 + i % 5 : 1 + i);
    const auto until = Clock::now() + std::chrono::seconds(ctx.seconds);
    std::vector<std::thread> pool;
    for (int i = 0; i < clients; ++i)
        pool.emplace_back(mixedClient, server.port, token, activity[size_t(i)], until, &stats[size_t(i)], &last[size_t(i)],
                          unsigned(i + 1));
    for (std::thread &t : pool)
        t.join();
    stopAttack = true;
    for (std::thread &t : attack)
        t.join();
    Stats all;
    for (const Stats &s : stats)
        all.merge(s);
    std::map<QString, std::pair<long, std::vector<int>>> acked;
    for (int i = 0; i < clients; ++i)
        acked[activity[size_t(i)]].first += stats[size_t(i)].writes;
    server.stop();
    const AuditCheck audit = checkAudit(dbUrl, acked);
    // Own activities: the final value is the last one acknowledged.
    long lastLost = 0;
    if (!postgres) {
        QString error;
        Database db(*DatabaseConfig::parse(dbUrl, &error));
        for (int i = 0; i < clients; ++i) {
            if (last[size_t(i)] < 0)
                continue;
            QSqlQuery q(db.connection());
            q.exec(QStringLiteral("SELECT CAST(VRPERCCONCL AS INTEGER) FROM ATIVIDADE WHERE CDSEQCRONPRJ = '%1'")
                       .arg(activity[size_t(i)]));
            if (!q.next() || q.value(0).toInt() != last[size_t(i)])
                ++lastLost;
        }
    }
    const double seconds = ctx.seconds;
    report(id, postgres ? "50 clients, PostgreSQL, shared activities" : underAttack ? "50 clients beside 200 slow heads + 40 stalled bodies" : "50 keep-alive clients, 85 % reads",
           QStringLiteral("%1 requests (%2/s), %3 errors, %4 writes, %5 lost, %6 audit rows wrong; p50 %7 ms, p99 %8 ms, max %9 ms%10")
               .arg(all.ms.size())
               .arg(double(all.ms.size()) / seconds, 0, 'f', 0)
               .arg(all.errors)
               .arg(all.writes)
               .arg(audit.lostWrites + lastLost)
               .arg(audit.wrongPrevious)
               .arg(all.pct(50), 0, 'f', 2)
               .arg(all.pct(99), 0, 'f', 2)
               .arg(all.pct(100), 0, 'f', 1)
               .arg(underAttack ? QStringLiteral("; attackers dropped by the server %1 times").arg(dropped.load()) : QString()));
}

void loginFlood(Context &ctx)
{
    const QString dbUrl = freshSqlite(ctx, "H3", fixture(100, 2000));
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath("H3.log")))
        return report("H3", "server", "did not start");
    const std::string token = login(server.port, "ANA", "ana123");
    std::atomic<bool> stop{false};
    std::atomic<long> refused401{0}, refused429{0}, other{0};
    std::vector<std::thread> flood;
    for (int t = 0; t < 32; ++t) {
        flood.emplace_back([&, t] {
            const std::string from = "127.0.1." + std::to_string(t + 1);
            long n = 0;
            while (!stop) {
                const int fd = connectFrom(server.port, from.c_str());
                if (fd < 0)
                    continue;
                ++n;
                const std::string body = std::string(R"({"operator":")") + (n % 2 ? "ANA" : "ZE" + std::to_string(n))
                                         + R"(","password":"guess)" + std::to_string(n) + "\"}";
                const std::string req = "POST /session HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: "
                                        + std::to_string(body.size()) + "\r\n\r\n" + body;
                ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
                char buf[64] = {};
                const ssize_t got = ::recv(fd, buf, sizeof buf - 1, 0);
                ::close(fd);
                const std::string head(buf, size_t(std::max<ssize_t>(0, got)));
                if (head.rfind("HTTP/1.1 401", 0) == 0)
                    ++refused401;
                else if (head.rfind("HTTP/1.1 429", 0) == 0)
                    ++refused429;
                else
                    ++other;
            }
        });
    }
    Stats reader;
    int ignored = -1;
    mixedClient(server.port, token, QString(), Clock::now() + std::chrono::seconds(ctx.seconds), &reader, &ignored, 7);
    stop = true;
    for (std::thread &t : flood)
        t.join();
    server.stop();
    report("H3", "32 threads of wrong passwords, 1 logged-in reader",
           QStringLiteral("reader: %1 requests, %2 errors, p50 %3 ms, p99 %4 ms; flood: %5 answered 401, %6 answered 429, %7 other")
               .arg(reader.ms.size())
               .arg(reader.errors)
               .arg(reader.pct(50), 0, 'f', 2)
               .arg(reader.pct(99), 0, 'f', 2)
               .arg(refused401.load())
               .arg(refused429.load())
               .arg(other.load()));
}

void gzipBomb(Context &ctx)
{
    const QString dbUrl = freshSqlite(ctx, "H4", fixture(10, 10));
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath("H4.log")))
        return report("H4", "server", "did not start");
    const std::string token = login(server.port, "ANA", "ana123");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const qint64 idle = server.memoryKiB("VmRSS");
    // 1 MiB of a gzip stream of 10 GiB of zeros (the stream's ratio tops out
    // near 1:1000, so the whole 10 GiB would take 10 MiB; the server reads no
    // further than the first few KiB either way).
    const QByteArray bomb = gzipPrefixOfZeros(10LL << 30, 1 << 20);
    const int fd = connectFrom(server.port, "127.0.0.1");
    const std::string head = "POST /VOR01300.rdmConcAtivProje HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token
                             + "\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(bomb.size()) + "\r\n\r\n";
    const auto t0 = Clock::now();
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    std::thread sender([&] { ::send(fd, bomb.constData(), size_t(bomb.size()), MSG_NOSIGNAL); });
    char buf[256] = {};
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 30000);
    const ssize_t got = ::recv(fd, buf, sizeof buf - 1, 0);
    const double ms = msBetween(t0, Clock::now());
    ::shutdown(fd, SHUT_RDWR);
    sender.join();
    ::close(fd);
    const qint64 peak = server.memoryKiB("VmHWM"), after = server.memoryKiB("VmRSS");
    server.stop();
    report("H4", "1 MiB gzip body of 10 GiB of zeros",
           QStringLiteral("answer %1 after %2 ms; resident memory idle %3 MB, peak %4 MB, after %5 MB")
               .arg(QString::fromLatin1(QByteArray(buf, int(std::max<ssize_t>(0, got))).left(12)))
               .arg(ms, 0, 'f', 1)
               .arg(idle / 1024)
               .arg(peak / 1024)
               .arg(after / 1024));
}

void manyKeepAlive(Context &ctx)
{
    const QString dbUrl = freshSqlite(ctx, "H6", fixture(100, 2000));
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath("H6.log")))
        return report("H6", "server", "did not start");
    const std::string token = login(server.port, "ANA", "ana123");
    constexpr int clients = 64;
    std::vector<double> firstAnswer(clients, -1);
    std::vector<Stats> stats(clients);
    const auto start = Clock::now();
    const auto until = start + std::chrono::seconds(std::min(ctx.seconds, 20));
    std::vector<std::thread> pool;
    for (int i = 0; i < clients; ++i) {
        pool.emplace_back([&, i] {
            httplib::Client c("127.0.0.1", server.port);
            c.set_keep_alive(true);
            c.set_read_timeout(30, 0);
            const httplib::Headers auth{{"Authorization", "Bearer " + token}};
            int id = 0;
            while (Clock::now() < until) {
                const auto t0 = Clock::now();
                const auto r = c.Post(kModule, auth, rpc("getProjeto", {"0001", "P1", ""}, ++id), "application/json");
                const double ms = msBetween(t0, Clock::now());
                stats[size_t(i)].ms.push_back(ms);
                if (!okReply(r))
                    ++stats[size_t(i)].errors;
                else if (firstAnswer[size_t(i)] < 0)
                    firstAnswer[size_t(i)] = ms;
            }
        });
    }
    for (std::thread &t : pool)
        t.join();
    server.stop();
    Stats all;
    for (const Stats &s : stats)
        all.merge(s);
    const long answered = std::count_if(firstAnswer.begin(), firstAnswer.end(), [](double v) { return v >= 0; });
    report("H6", "64 keep-alive clients, 20 s",
           QStringLiteral("%1 of 64 answered; slowest first answer %2 ms; %3 requests, %4 errors, p99 %5 ms")
               .arg(answered)
               .arg(*std::max_element(firstAnswer.begin(), firstAnswer.end()), 0, 'f', 1)
               .arg(all.ms.size())
               .arg(all.errors)
               .arg(all.pct(99), 0, 'f', 2));
}

void largestReads(Context &ctx)
{
    QElapsedTimer load;
    load.start();
    const QString dbUrl = freshSqlite(ctx, "H7", fixture(5000, 200000));
    std::fprintf(stderr, "H7: 5,000 activities / 200,000 bookings loaded in %lld s\n", load.elapsed() / 1000);
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath("H7.log")))
        return report("H7", "server", "did not start");
    const std::string token = login(server.port, "ANA", "ana123");
    const qint64 idle = server.memoryKiB("VmRSS");
    Stats stats;
    size_t bytes = 0;
    std::mutex mutex;
    std::atomic<int> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < 4; ++t) { // four at a time, each on a fresh connection
        pool.emplace_back([&] {
            while (next++ < 50) {
                httplib::Client c("127.0.0.1", server.port);
                c.set_read_timeout(120, 0);
                c.set_decompress(false);
                const httplib::Headers auth{{"Authorization", "Bearer " + token}, {"Accept-Encoding", "gzip"}};
                const auto t0 = Clock::now();
                const auto r = c.Post(kModule, auth, rpc("getCSAAux", {"0001", "P1"}, 1), "application/json");
                const double ms = msBetween(t0, Clock::now());
                std::lock_guard lock(mutex);
                stats.ms.push_back(ms);
                if (!r || r->status != 200)
                    ++stats.errors;
                else
                    bytes = r->body.size();
            }
        });
    }
    for (std::thread &t : pool)
        t.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const qint64 peak = server.memoryKiB("VmHWM"), after = server.memoryKiB("VmRSS");
    server.stop();
    report("H7", "50 largest reads (all 200,000 bookings), 4 at a time, fresh connections",
           QStringLiteral("%1 errors, p50 %2 ms, reply %3 MB gzip; resident memory idle %4 MB, peak %5 MB, at the end %6 MB")
               .arg(stats.errors)
               .arg(stats.pct(50), 0, 'f', 0)
               .arg(double(bytes) / 1e6, 0, 'f', 1)
               .arg(idle / 1024)
               .arg(peak / 1024)
               .arg(after / 1024));
}

// ---- abuse beside a reader (H11) ------------------------------------------------

// Far past the target, well short of hurting a machine that others share.
constexpr qint64 kCeilingMiB = 1024;

// One logged-in person beside the abuse: a light read at a person's pace, on a
// kept-alive connection.
void lightReader(int port, const std::string &token, StopFlag &stop, Stats *stats)
{
    httplib::Client c("127.0.0.1", port);
    c.set_keep_alive(true);
    c.set_connection_timeout(10, 0);
    c.set_read_timeout(30, 0);
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    std::mt19937 rng(11);
    int id = 0;
    while (!stop.set) {
        const auto t0 = Clock::now();
        const auto r = c.Post(kModule, auth, rpc("getProjeto", {"0001", "P1", ""}, ++id), "application/json");
        stats->ms.push_back(msBetween(t0, Clock::now()));
        if (!okReply(r))
            ++stats->errors;
        if (g_thinkMs > 0)
            stop.waitFor(std::chrono::milliseconds(g_thinkMs / 2 + int(rng() % unsigned(g_thinkMs + 1))));
    }
}

using Attack = std::function<QString(const Server &, const std::string &token, StopFlag &)>;

// Starts a server on `data`, runs `attack` for --seconds beside one logged-in
// reader while sampling the server's resident memory every 200 ms, and reports
// both along with what the attack saw. A server that grows past the ceiling is
// killed there: the case has failed by then.
void abuseCase(Context &ctx, const char *id, const char *what, const QByteArray &data, const Attack &attack)
{
    const QString dbUrl = freshSqlite(ctx, QString::fromLatin1(id), data);
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath(QString::fromLatin1(id) + ".log")))
        return report(id, "server", "did not start");
    const std::string token = login(server.port, "ANA", "ana123");
    { // the first call's allocations belong to the idle figure
        httplib::Client c("127.0.0.1", server.port);
        c.Post(kModule, {{"Authorization", "Bearer " + token}}, rpc("getProjeto", {"0001", "P1", ""}, 1), "application/json");
    }
    const qint64 idle = server.memoryKiB("VmRSS");
    qint64 peak = idle;
    bool killed = false;
    StopFlag stop;
    std::thread sampler([&] {
        while (!stop.waitFor(std::chrono::milliseconds(200))) {
            const qint64 rss = server.memoryKiB("VmRSS");
            peak = std::max(peak, rss);
            if (rss - idle > kCeilingMiB * 1024) {
                killed = true;
                stop.raise(); // first, so that no client takes the kill for the server's own doing
                ::kill(pid_t(server.pid), SIGKILL);
            }
        }
    });
    Stats reader;
    std::thread person(lightReader, server.port, std::cref(token), std::ref(stop), &reader);
    QString seen;
    std::thread abuse([&] { seen = attack(server, token, stop); });
    const auto t0 = Clock::now();
    stop.waitUntil(t0 + std::chrono::seconds(ctx.seconds));
    const double seconds = msBetween(t0, Clock::now()) / 1000;
    stop.raise();
    abuse.join();
    person.join();
    sampler.join();
    server.stop();
    const qint64 grownMiB = (peak - idle) / 1024;
    const double p99 = reader.pct(99);
    report(id, what,
           QStringLiteral("%1; resident idle %2 MB, peak %3 MB (+%4 MB)%5; reader %6 calls, %7 errors, p99 %8 ms; %9")
               .arg(seen)
               .arg(idle / 1024)
               .arg(peak / 1024)
               .arg(grownMiB)
               .arg(killed ? QStringLiteral(", killed past +%1 MB after %2 s").arg(kCeilingMiB).arg(seconds, 0, 'f', 1)
                           : QString())
               .arg(reader.ms.size())
               .arg(reader.errors)
               .arg(p99, 0, 'f', 1)
               .arg(grownMiB <= 150 && p99 <= 100 && !killed ? "targets met" : "targets missed"));
}

// (a) A reply that echoes a 1 MiB id, asked for in 2,700 overlapping ranges:
// a server that honours them writes the reply 2,700 times.
QString rangeAbuse(const Server &server, const std::string &, StopFlag &stop)
{
    const QByteArray json = R"({"jsonrpc":"2.0","id":")" + QByteArray(1 << 20, 'r')
                            + R"(","method":"getProjeto","params":["0001","P1",""]})";
    const QByteArray body = gzipOf(json);
    std::string ranges = "bytes=0-";
    for (int i = 1; i < 2700; ++i)
        ranges += ",0-"; // 8,105 bytes: within the 8 KiB a header line commonly may take
    const std::string request = std::string("POST ") + kModule
                                + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\nRange: "
                                + ranges + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"
                                + body.toStdString();
    constexpr int clients = 8;
    std::mutex mutex;
    std::map<int, long> answers;
    size_t largest = 0;
    bool largestCut = false;
    std::vector<std::thread> pool;
    for (int t = 0; t < clients; ++t) {
        pool.emplace_back([&] {
            while (!stop.set) {
                const int fd = connectFrom(server.port, "127.0.0.2");
                if (fd < 0) {
                    stop.waitFor(std::chrono::milliseconds(20));
                    continue;
                }
                sendAll(fd, request); // a server that answers from the head may close before the body is in
                const RawReply r = readReply(fd, Clock::now() + std::chrono::minutes(2), &stop.set, 0);
                ::close(fd);
                std::lock_guard lock(mutex);
                if (r.bytes > largest) {
                    largest = r.bytes;
                    largestCut = !r.complete;
                }
                if (r.complete || !stop.set) // not one the end of the case cut short
                    ++answers[r.status];
            }
        });
    }
    for (std::thread &t : pool)
        t.join();
    long requests = 0;
    for (const auto &[status, n] : answers)
        requests += n;
    return QStringLiteral("%1 requests from %2 clients, answered %3; largest reply %4 bytes%5")
        .arg(requests)
        .arg(clients)
        .arg(statusCounts(answers))
        .arg(largest)
        .arg(largestCut ? QStringLiteral(" (still coming when cut off)") : QString());
}

// (b) A head that never ends: how much of it the server takes before it cuts
// the connection.
QString headerFlood(const Server &server, const std::string &, StopFlag &stop)
{
    const std::string opening = std::string("POST ") + kModule + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";
    std::string lines;
    for (int i = 0; i < 8; ++i)
        lines += "X-A: " + std::string(8192, 'a') + "\r\n";
    constexpr int threads = 2, perThread = 8;
    std::mutex mutex;
    // Bytes that left each connection before the cut / by the end: what the
    // server read, and what its kernel buffered unread.
    Stats cutAfterKiB, openKiB;
    std::map<int, long> answers;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            struct Conn { int fd = -1; size_t sent = 0, offset = 0; bool headed = false; int status = 0; };
            std::vector<Conn> conns(perThread);
            char buf[256];
            const auto readAnswer = [&](Conn &c) -> bool { // false: the connection is over
                const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0 && c.status == 0 && n > 12 && std::strncmp(buf, "HTTP/1.", 7) == 0)
                    c.status = std::atoi(buf + 9);
                return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
            };
            const auto cut = [&](Conn &c) {
                if (c.status == 0)
                    readAnswer(c);
                ::close(c.fd);
                std::lock_guard lock(mutex);
                cutAfterKiB.ms.push_back(double(c.sent) / 1024);
                ++answers[c.status];
                c = Conn{};
            };
            while (!stop.set) {
                std::vector<pollfd> polls;
                std::vector<Conn *> owners;
                for (Conn &c : conns) {
                    if (c.fd < 0) {
                        c.fd = connectFrom(server.port, "127.0.0.3");
                        if (c.fd < 0)
                            continue;
                        const int small = 4096; // what waits in our own kernel is not sent yet
                        ::setsockopt(c.fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
                        ::fcntl(c.fd, F_SETFL, ::fcntl(c.fd, F_GETFL) | O_NONBLOCK);
                    }
                    polls.push_back({c.fd, POLLIN | POLLOUT, 0});
                    owners.push_back(&c);
                }
                if (polls.empty()) {
                    stop.waitFor(std::chrono::milliseconds(20));
                    continue;
                }
                if (::poll(polls.data(), nfds_t(polls.size()), 100) <= 0)
                    continue;
                for (size_t i = 0; i < polls.size(); ++i) {
                    Conn &c = *owners[i];
                    if ((polls[i].revents & (POLLIN | POLLERR | POLLHUP)) && !readAnswer(c)) {
                        cut(c);
                        continue;
                    }
                    if (!(polls[i].revents & POLLOUT))
                        continue;
                    const std::string &from = c.headed ? lines : opening;
                    const ssize_t n = ::send(c.fd, from.data() + c.offset, from.size() - c.offset, MSG_NOSIGNAL);
                    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                        cut(c);
                        continue;
                    }
                    if (n > 0) {
                        c.sent += size_t(n);
                        c.offset += size_t(n);
                        if (c.offset == from.size()) {
                            c.offset = 0;
                            c.headed = true;
                        }
                    }
                }
            }
            for (Conn &c : conns) {
                if (c.fd < 0)
                    continue;
                ::close(c.fd);
                std::lock_guard lock(mutex);
                openKiB.ms.push_back(double(c.sent) / 1024);
            }
        });
    }
    for (std::thread &t : pool)
        t.join();
    return QStringLiteral("%1 connections: cut %2 times after median %3 KiB, max %4 KiB sent (answered %5); "
                          "%6 open at the end, up to %7 KiB sent")
        .arg(threads * perThread)
        .arg(cutAfterKiB.ms.size())
        .arg(cutAfterKiB.pct(50), 0, 'f', 0)
        .arg(cutAfterKiB.pct(100), 0, 'f', 0)
        .arg(statusCounts(answers))
        .arg(openKiB.ms.size())
        .arg(openKiB.pct(100), 0, 'f', 0);
}

// (c) Bodies that inflate to just under the limit, from clients with no token:
// half of them stall after the body, the other half go round and round.
QString preTokenBodies(const Server &server, const std::string &, StopFlag &stop)
{
    const QByteArray zeros = gzipPrefixOfZeros((16 << 20) - 1024, 1 << 20); // about 16 KB
    const std::string head = std::string("POST ") + kModule
                             + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\nContent-Length: ";
    const std::string whole = head + std::to_string(zeros.size()) + "\r\n\r\n" + zeros.toStdString();
    const std::string stalled = head + std::to_string(zeros.size() + (1 << 20)) + "\r\n\r\n" + zeros.toStdString();
    std::mutex mutex;
    std::map<int, long> wholeAnswers, stalledAnswers;
    Stats heldSec;
    long stillOpen = 0;
    std::vector<std::thread> pool;
    for (int t = 0; t < 100; ++t) {
        const bool stall = t % 2;
        pool.emplace_back([&, stall] {
            while (!stop.set) {
                const int fd = connectFrom(server.port, stall ? "127.0.0.4" : "127.0.0.5");
                if (fd < 0) {
                    stop.waitFor(std::chrono::milliseconds(20));
                    continue;
                }
                const auto t0 = Clock::now();
                sendAll(fd, stall ? stalled : whole);
                RawReply r = readReply(fd, Clock::now() + std::chrono::minutes(2), &stop.set, 256);
                if (stall)
                    readUntilClosed(fd, &r, Clock::now() + std::chrono::minutes(2), &stop.set);
                ::close(fd);
                std::lock_guard lock(mutex);
                if (stall && r.closed && !stop.set) {
                    ++stalledAnswers[r.status];
                    heldSec.ms.push_back(msBetween(t0, Clock::now()) / 1000);
                } else if (stall) {
                    ++stillOpen;
                } else if (r.complete || !stop.set) {
                    ++wholeAnswers[r.status];
                }
            }
        });
    }
    for (std::thread &t : pool)
        t.join();
    return QStringLiteral("50 whole bodies in loops answered %1; 50 stalled ones closed by the server %2 times%3, "
                          "%4 still open at the end")
        .arg(statusCounts(wholeAnswers))
        .arg(heldSec.ms.size())
        .arg(heldSec.ms.empty() ? QString()
                                : QStringLiteral(" after median %1 s, max %2 s (answered %3)")
                                      .arg(heldSec.pct(50), 0, 'f', 1)
                                      .arg(heldSec.pct(100), 0, 'f', 1)
                                      .arg(statusCounts(stalledAnswers)))
        .arg(stillOpen);
}

// (d) Clients that ask for the largest read and take none of it: the reply
// waits in the server until it gives up on them.
QString nonReadingReaders(const Server &server, const std::string &token, StopFlag &stop)
{
    const std::string body = rpc("getCSAAux", {"0001", "P1"}, 1);
    // No Accept-Encoding: the reply goes out whole, the largest there is.
    const std::string request = std::string("POST ") + kModule
                                + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nAuthorization: Bearer " + token
                                + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    struct Conn { int fd = -1; int port = 0; Clock::time_point sent; };
    std::vector<Conn> conns(20);
    const auto open = [&](Conn &c) {
        c.fd = connectFrom(server.port, "127.0.0.6", 4096);
        if (c.fd < 0)
            return;
        c.port = localPort(c.fd);
        c.sent = Clock::now();
        sendAll(c.fd, request);
    };
    for (Conn &c : conns)
        open(c);
    Stats heldSec, stillSec;
    while (!stop.waitFor(std::chrono::milliseconds(200))) {
        const std::set<int> held = heldByServer(server.port);
        for (Conn &c : conns) {
            if (c.fd >= 0 && held.count(c.port))
                continue;
            if (c.fd >= 0) {
                heldSec.ms.push_back(msBetween(c.sent, Clock::now()) / 1000);
                ::close(c.fd);
            }
            open(c);
        }
    }
    for (Conn &c : conns) {
        if (c.fd < 0)
            continue;
        stillSec.ms.push_back(msBetween(c.sent, Clock::now()) / 1000);
        ::close(c.fd);
    }
    return QStringLiteral("20 connections: closed by the server %1 times%2; %3 still held at the end%4")
        .arg(heldSec.ms.size())
        .arg(heldSec.ms.empty() ? QString()
                                : QStringLiteral(" after median %1 s, max %2 s")
                                      .arg(heldSec.pct(50), 0, 'f', 1)
                                      .arg(heldSec.pct(100), 0, 'f', 1))
        .arg(stillSec.ms.size())
        .arg(stillSec.ms.empty() ? QString() : QStringLiteral(", the longest for %1 s").arg(stillSec.pct(100), 0, 'f', 1));
}

void abuse(Context &ctx, QChar which)
{
    if (which == 'a')
        abuseCase(ctx, "H11a", "8 clients: no token, gzip body with a 1 MiB id, 2,700 ranges", fixture(100, 2000), rangeAbuse);
    else if (which == 'b')
        abuseCase(ctx, "H11b", "16 connections sending 8 KiB header lines without end", fixture(100, 2000), headerFlood);
    else if (which == 'c')
        abuseCase(ctx, "H11c", "100 connections, no token, 16 KB gzip bodies of 16 MiB: 50 stalled, 50 in loops",
                  fixture(100, 2000), preTokenBodies);
    else if (which == 'd')
        abuseCase(ctx, "H11d", "20 connections reading nothing of the largest read (200,000 bookings, uncompressed)",
                  fixture(5000, 200000), nonReadingReaders);
}

// ---- H12-H14 ---------------------------------------------------------------------

void slowCrowd(Context &ctx)
{
    rlimit files{}; // 2,200 sockets of our own
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    const QString dbUrl = freshSqlite(ctx, "H12", fixture(100, 2000));
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath("H12.log")))
        return report("H12", "server", "did not start");
    const std::string token = login(server.port, "ANA", "ana123");
    std::atomic<bool> stop{false};
    std::atomic<long> dropped{0}, opened{0};
    std::vector<std::string> addresses;
    for (int i = 1; i <= 22; ++i)
        addresses.push_back("127.0.1." + std::to_string(i));
    std::vector<std::thread> crowd;
    for (const std::string &a : addresses)
        crowd.emplace_back(attackers, server.port, a.c_str(), 100, true, std::cref(stop), &dropped, &opened);
    const auto crowdBy = Clock::now() + std::chrono::seconds(20);
    while (opened < 2200 && Clock::now() < crowdBy) // the whole crowd in before the first call
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long openedFirst = opened;
    Stats served;
    std::map<int, long> failures;
    int attempts = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::seconds(std::min(ctx.seconds, 20));
    for (int i = 0; Clock::now() < until; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(300) * i); // a person's pace, not a queue
        httplib::Client c("127.0.0.1", server.port);
        c.set_connection_timeout(5, 0);
        c.set_read_timeout(5, 0);
        const auto t0 = Clock::now();
        const bool loggingIn = i % 2 == 0;
        const auto r = loggingIn ? c.Post("/session", R"({"operator":"ANA","password":"ana123"})", "application/json")
                                 : c.Post(kModule, {{"Authorization", "Bearer " + token}},
                                          rpc("getProjeto", {"0001", "P1", ""}, i), "application/json");
        const bool ok = loggingIn ? r && r->status == 200 && r->body.find("\"token\"") != std::string::npos : okReply(r);
        ++attempts;
        if (ok)
            served.ms.push_back(msBetween(t0, Clock::now()));
        else
            ++failures[r ? r->status : 0];
    }
    stop = true;
    for (std::thread &t : crowd)
        t.join();
    server.stop();
    const double share = attempts ? 100.0 * double(served.ms.size()) / attempts : 0;
    report("H12", "2,200 slow heads from 22 addresses; a login or a call on a fresh connection every 300 ms",
           QStringLiteral("%1 of %2 served (%3 %), p50 %4 ms, p99 %5 ms; not served: %6; %7 slow connections in before "
                          "the first call, cut and reopened %8 times; %9")
               .arg(served.ms.size())
               .arg(attempts)
               .arg(share, 0, 'f', 1)
               .arg(served.pct(50), 0, 'f', 1)
               .arg(served.pct(99), 0, 'f', 1)
               .arg(failures.empty() ? QStringLiteral("none") : statusCounts(failures))
               .arg(openedFirst)
               .arg(dropped.load())
               .arg(share >= 95 ? "target met" : "target missed"));
}

void smuggling(Context &ctx)
{
    const QString dbUrl = freshSqlite(ctx, "H13", fixture(10, 10));
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath("H13.log")))
        return report("H13", "server", "did not start");
    const std::string json = R"({"jsonrpc":"2.0","id":1,"method":"getProjeto","params":["0001","P1",""]})";
    const auto hex = [](size_t n) { return QByteArray::number(qulonglong(n), 16).toStdString(); };
    const std::string chunked = hex(json.size()) + "\r\n" + json + "\r\n0\r\n\r\n";
    const std::string post = std::string("POST ") + kModule + " HTTP/1.1\r\n";
    // Logged in, so that each body's framing is read at all (a call without
    // a session is refused from its head).
    const std::string token = login(server.port, "ANA", "ana123");
    const std::string plain = "Host: x\r\nContent-Type: application/json\r\nAuthorization: Bearer " + token + "\r\n";
    const std::string length = "Content-Length: " + std::to_string(json.size()) + "\r\n";
    const std::string chunkedLength = "Content-Length: " + std::to_string(chunked.size()) + "\r\n";
    const std::string short29 = R"({"jsonrpc":"2.0","id":"abcd"})";
    // What follows a bad request must never be taken for a request of its own; if
    // it is, a failed login for an operator no one has is what it does.
    const std::string creds = R"({"operator":"H13NOBODY","password":"x"})";
    const std::string behind = "POST /session HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nConnection: close\r\n"
                               "Content-Length: " + std::to_string(creds.size()) + "\r\n\r\n" + creds;
    struct Case { const char *name; std::string request; int expected; };
    const std::vector<Case> cases{
        {"Content-Length with chunked", post + plain + chunkedLength + "Transfer-Encoding: chunked\r\n\r\n" + chunked, 400},
        {"chunk size 0x1d", post + plain + "Transfer-Encoding: chunked\r\n\r\n0x" + hex(short29.size()) + "\r\n" + short29
                                + "\r\n0\r\n\r\n", 400},
        {"'Transfer-Encoding :' with Content-Length", post + plain + chunkedLength + "Transfer-Encoding : chunked\r\n\r\n"
                                                          + chunked, 400},
        {"chunked then identity", post + plain + "Transfer-Encoding: chunked\r\nTransfer-Encoding: identity\r\n\r\n" + chunked,
         400},
        {"identity then chunked", post + plain + "Transfer-Encoding: identity\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked,
         400},
        {"POST without a length", post + plain + "\r\n", 411},
        {"bare CR in a header", post + plain + "X-Note: a\rb\r\n" + length + "\r\n" + json, 400},
        {"folded header line", post + plain + "X-Note: a\r\n b\r\n" + length + "\r\n" + json, 400},
        {"no Host", post + "Content-Type: application/json\r\n" + length + "\r\n" + json, 400},
        {"transfer coding gzip, chunked", post + plain + "Transfer-Encoding: gzip, chunked\r\n\r\n" + chunked, 400},
    };
    int passed = 0;
    QStringList failed;
    for (const Case &c : cases) {
        const int fd = connectFrom(server.port, "127.0.0.1");
        if (fd < 0) {
            failed << QStringLiteral("%1 (no connection)").arg(QString::fromLatin1(c.name));
            continue;
        }
        sendAll(fd, c.request + behind);
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        RawReply r = readReply(fd, deadline);
        readUntilClosed(fd, &r, deadline);
        ::close(fd);
        QStringList wrong;
        if (r.status != c.expected)
            wrong << (r.status ? QStringLiteral("answered %1").arg(r.status) : QStringLiteral("no answer"));
        if (!r.closed)
            wrong << QStringLiteral("left open");
        if (!r.after.empty())
            wrong << (r.after.rfind("HTTP/", 0) == 0 ? QStringLiteral("answered the request behind it")
                                                     : QStringLiteral("sent more"));
        if (wrong.isEmpty())
            ++passed;
        else
            failed << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(c.name), wrong.join(", "));
    }
    server.stop();
    report("H13", "malformed framing, a valid request behind each, each on a fresh connection",
           QStringLiteral("%1 of %2 passed%3")
               .arg(passed)
               .arg(cases.size())
               .arg(failed.isEmpty() ? QString() : QStringLiteral("; failed: ") + failed.join("; ")));
}

// What a server that would not start said first (a usage text follows it).
QString firstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll().trimmed().split('\n').value(0)).left(200);
}

void injectedFaults(Context &ctx)
{
    const QString dbUrl = freshSqlite(ctx, "H14", fixture(10, 10));
    const QString log = ctx.dir.filePath("H14.log");
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {"--inject-faults"}, log)) {
        server.process.waitForFinished(5000);
        return report("H14", "server",
                      QStringLiteral("did not start with --inject-faults (exit code %1): %2")
                          .arg(server.process.exitCode())
                          .arg(firstLine(log)));
    }
    const std::string token = login(server.port, "ANA", "ana123");
    const auto normalCall = [&] {
        httplib::Client c("127.0.0.1", server.port);
        c.set_read_timeout(10, 0);
        return okReply(c.Post(kModule, {{"Authorization", "Bearer " + token}}, rpc("getProjeto", {"0001", "P1", ""}, 1),
                              "application/json"));
    };
    normalCall();
    const qint64 before = server.memoryKiB("VmRSS");
    constexpr int connections = 4, perConnection = 250;
    std::mutex mutex;
    std::map<int, long> statuses;
    long right = 0;
    Stats stats;
    std::vector<std::thread> pool;
    for (int t = 0; t < connections; ++t) {
        pool.emplace_back([&] {
            httplib::Client c("127.0.0.1", server.port);
            c.set_keep_alive(true);
            c.set_read_timeout(10, 0);
            const httplib::Headers headers{{"Authorization", "Bearer " + token}, {"X-Vor-Inject", "throw"}};
            for (int i = 1; i <= perConnection; ++i) {
                const auto t0 = Clock::now();
                const auto r = c.Post(kModule, headers, rpc("getProjeto", {"0001", "P1", ""}, i), "application/json");
                const double ms = msBetween(t0, Clock::now());
                const bool fault = r && r->status == 500
                                   && QJsonDocument::fromJson(QByteArray::fromStdString(r->body))
                                              .object()
                                              .value("error")
                                              .toObject()
                                              .value("code")
                                              .toInt()
                                          == -32603;
                std::lock_guard lock(mutex);
                stats.ms.push_back(ms);
                ++statuses[r ? r->status : 0];
                right += fault;
            }
        });
    }
    for (std::thread &t : pool)
        t.join();
    const bool stillServes = normalCall();
    const qint64 after = server.memoryKiB("VmRSS");
    server.stop();
    report("H14", "1,000 calls told to throw, on 4 kept-alive connections",
           QStringLiteral("%1 of %2 answered 500 with -32603 (statuses: %3), p99 %4 ms; a normal call afterwards %5; "
                          "resident before %6 MB, after %7 MB")
               .arg(right)
               .arg(connections * perConnection)
               .arg(statusCounts(statuses))
               .arg(stats.pct(99), 0, 'f', 1)
               .arg(stillServes ? "answered" : "NOT answered")
               .arg(before / 1024)
               .arg(after / 1024));
}

// B5 here too, so that two server builds can be compared side by side in one
// run (--server-bin): 16 kept-alive clients reading one activity's bookings
// without pause.
void throughput(Context &ctx)
{
    const QString dbUrl = freshSqlite(ctx, "B5", fixture(100, 2000));
    Server server;
    if (!server.start(ctx.serverBin, dbUrl, {}, ctx.dir.filePath("B5.log")))
        return report("B5", "server", "did not start");
    const std::string token = login(server.port, "ANA", "ana123");
    const std::string body = rpc("getApropriaCSA", {"0001", "P1", "T1", "1"}, 1);
    const auto until = Clock::now() + std::chrono::seconds(std::min(ctx.seconds, 10));
    std::vector<Stats> stats(16);
    std::vector<std::thread> clients;
    const auto start = Clock::now();
    for (Stats &st : stats)
        clients.emplace_back([&, st = &st] {
            httplib::Client c("127.0.0.1", server.port);
            c.set_keep_alive(true);
            const httplib::Headers auth{{"Authorization", "Bearer " + token}};
            while (Clock::now() < until) {
                const auto t0 = Clock::now();
                const auto r = c.Post(kModule, auth, body, "application/json");
                st->ms.push_back(msBetween(t0, Clock::now()));
                if (!okReply(r))
                    ++st->errors;
            }
        });
    for (std::thread &t : clients)
        t.join();
    const double seconds = msBetween(start, Clock::now()) / 1000.0;
    Stats all;
    for (const Stats &st : stats)
        all.merge(st);
    server.stop();
    report("B5", "16 kept-alive clients, getApropriaCSA, no pause",
           QStringLiteral("%1 req/s, p50 %2 ms, p99 %3 ms, %4 errors (%5)")
               .arg(double(all.ms.size()) / seconds, 0, 'f', 0)
               .arg(all.pct(50), 0, 'f', 2)
               .arg(all.pct(99), 0, 'f', 1)
               .arg(all.errors)
               .arg(ctx.serverBin));
}

// ---- a fleet: nginx over several servers on one PostgreSQL (H8-H10, B9) -----------

// The caller starts the fleet; these scenarios only use it. A missed target
// makes the exit code non-zero, so that the check script fails.
bool g_fleetMissed = false;

QString verdict(bool met)
{
    g_fleetMissed = g_fleetMissed || !met;
    return met ? QStringLiteral("targets met") : QStringLiteral("targets missed");
}

bool fleetGiven(const Context &ctx, const char *id, size_t servers)
{
    if (ctx.fleetPort > 0 && ctx.fleetPorts.size() >= servers)
        return true;
    report(id, "fleet",
           servers ? QStringLiteral("not run: needs --fleet HOST:PORT and --fleet-ports with %1 ports").arg(servers)
                   : QStringLiteral("not run: needs --fleet HOST:PORT"));
    g_fleetMissed = true;
    return false;
}

// The fleet's database gets the same data as the other scenarios' before any
// server starts on it; a server told --demo then finds it filled.
int prepareFleetDb(const QString &url)
{
    QString error;
    const std::optional<DatabaseConfig> config = DatabaseConfig::parse(url, &error);
    if (!config) {
        std::fprintf(stderr, "vor_load: %s\n", qPrintable(error));
        return 2;
    }
    try {
        Database db(*config);
        db.createSchema();
        if (!db.isEmpty()) {
            std::fprintf(stderr, "vor_load: %s holds data already; nothing imported\n", qPrintable(url));
            return 1;
        }
        Fixture::import(db, fixture(100, 2000));
        db.analyze();
    } catch (const FixtureError &e) {
        std::fprintf(stderr, "vor_load: fixture refused: %s\n", qPrintable(e.text()));
        return 1;
    } catch (const DbError &e) {
        std::fprintf(stderr, "vor_load: database: %s\n", e.what());
        return 1;
    }
    return 0;
}

// Each lockout case starts without failures on record, so that no case is
// passed or failed by the attacker of the one before.
void clearLoginCounts(const Context &ctx)
{
    if (ctx.postgresUrl.isEmpty())
        return;
    QString error;
    try {
        Database db(*DatabaseConfig::parse(ctx.postgresUrl, &error));
        QSqlQuery q(db.connection());
        if (!q.exec("DELETE FROM FALHAENTRADA"))
            std::fprintf(stderr, "vor_load: login failures not cleared: %s\n", qPrintable(q.lastError().text()));
    } catch (const DbError &e) {
        std::fprintf(stderr, "vor_load: login failures not cleared: %s\n", e.what());
    }
}

struct LoginTry
{
    int status = 0; // 0: no complete answer within the time given; -1: no connection
    double ms = 0;
    std::string token;
};

// A login on a fresh connection from `from`: through nginx, the address the
// servers are told the client has.
LoginTry loginFrom(int port, const char *from, const QString &op, const QString &password, int timeoutMs = 5000)
{
    const std::string body =
        QJsonDocument(QJsonObject{{"operator", op}, {"password", password}}).toJson(QJsonDocument::Compact).toStdString();
    const std::string request = "POST /session HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                "Connection: close\r\nContent-Length: "
                                + std::to_string(body.size()) + "\r\n\r\n" + body;
    LoginTry out;
    const auto t0 = Clock::now();
    const int fd = connectFrom(port, from);
    if (fd < 0) {
        out.status = -1;
    } else {
        sendAll(fd, request);
        const RawReply r = readReply(fd, t0 + std::chrono::milliseconds(timeoutMs));
        ::close(fd);
        if (r.complete)
            out.status = r.status;
        if (out.status == 200)
            out.token = QJsonDocument::fromJson(QByteArray::fromStdString(r.body))
                            .object()
                            .value("token")
                            .toString()
                            .toStdString();
    }
    out.ms = msBetween(t0, Clock::now());
    return out;
}

// ---- H8: a server killed under load --------------------------------------------------

struct FleetClient
{
    Stats stats;
    long unknownWrites = 0;      // writes that failed: applied or not, no one can say
    int longestRun = 0;          // failures in a row
    bool recovered = true;       // the last failure was followed by a success
    std::vector<double> gapMs;   // from a failure's answer to the next success's
    std::vector<double> nextMs;  // the successful request after a failure, from its start
    std::vector<double> failedAtSec;
    std::map<int, long> statuses; // of the failures; 0: no HTTP answer
};

// mixedClient's mix and pace, carrying on through failures and noting how
// long each one took to be over. Without TCP_NODELAY the body, sent apart
// from the head, would wait for nginx's delayed acknowledgement (40 ms).
void fleetClient(int port, const std::string &token, const QString &activity, Clock::time_point start,
                 Clock::time_point until, FleetClient *out, unsigned seed)
{
    httplib::Client c("127.0.0.1", port);
    c.set_keep_alive(true);
    c.set_tcp_nodelay(true);
    c.set_connection_timeout(2, 0);
    c.set_read_timeout(10, 0);
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    std::mt19937 rng(seed);
    int id = 0, run = 0;
    Clock::time_point failedAt;
    while (Clock::now() < until) {
        int value = -1;
        const std::string body = mixedRequest(rng, activity, &id, &value);
        const auto t0 = Clock::now();
        const auto r = c.Post(kModule, auth, body, "application/json");
        const auto t1 = Clock::now();
        out->stats.ms.push_back(msBetween(t0, t1));
        if (okReply(r)) {
            if (run > 0) {
                out->gapMs.push_back(msBetween(failedAt, t1));
                out->nextMs.push_back(msBetween(t0, t1));
                run = 0;
            }
            if (value >= 0)
                ++out->stats.writes;
        } else {
            ++out->stats.errors;
            ++out->statuses[r ? r->status : 0];
            out->failedAtSec.push_back(msBetween(start, t0) / 1000);
            if (value >= 0)
                ++out->unknownWrites;
            if (run++ == 0)
                failedAt = t1;
            out->longestRun = std::max(out->longestRun, run);
        }
        if (g_thinkMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(g_thinkMs / 2 + int(rng() % unsigned(g_thinkMs + 1))));
    }
    out->recovered = run == 0;
}

long auditRows(Database &db, const QString &activity)
{
    QSqlQuery q(db.connection());
    q.prepare("SELECT COUNT(*) FROM AUDITORIA WHERE DSEVENTO = 'PERCENTUAL' AND CDSEQCRONPRJ = CAST(:S AS VARCHAR(5))");
    q.bindValue(":S", activity);
    q.exec();
    return q.next() ? q.value(0).toLongLong() : -1;
}

// H8: H5's load through nginx while the calling script kills a server and
// starts it again. Only the requests the dead server held may fail, and each
// client must be served again at its next request.
void fleetFailover(Context &ctx)
{
    if (!fleetGiven(ctx, "H8", 0))
        return;
    if (ctx.postgresUrl.isEmpty()) {
        g_fleetMissed = true;
        return report("H8", "fleet", "not run: needs --postgresql, the fleet's database, to check the writes");
    }
    const std::string token = login(ctx.fleetPort, "ANA", "ana123");
    if (token.empty()) {
        g_fleetMissed = true;
        return report("H8", "fleet", "not run: ANA could not log in through nginx");
    }
    QString error;
    // Activities no earlier run wrote to, so that their audit rows are this run's alone.
    QStringList fresh;
    {
        Database db(*DatabaseConfig::parse(ctx.postgresUrl, &error));
        for (int i = 1; i <= 100 && fresh.size() < 5; ++i)
            if (const QString a = QString::asprintf("%05d", i); auditRows(db, a) == 0)
                fresh << a;
    }
    if (fresh.size() < 5) {
        g_fleetMissed = true;
        return report("H8", "fleet", "not run: fewer than five activities without audit rows (a fresh database is needed)");
    }
    constexpr int clients = 50;
    std::vector<FleetClient> out(clients);
    std::vector<QString> activity(clients);
    for (int i = 0; i < clients; ++i) // ten writers per activity
        activity[size_t(i)] = fresh[i % 5];
    const auto start = Clock::now();
    const auto until = start + std::chrono::seconds(ctx.secondsGiven ? ctx.seconds : 40);
    std::vector<std::thread> pool;
    for (int i = 0; i < clients; ++i)
        pool.emplace_back(fleetClient, ctx.fleetPort, std::cref(token), activity[size_t(i)], start, until,
                          &out[size_t(i)], unsigned(i + 1));
    for (std::thread &t : pool)
        t.join();
    const double seconds = msBetween(start, Clock::now()) / 1000;

    Stats all, gap, next;
    std::map<int, long> statuses;
    std::vector<double> failedAt;
    int longestRun = 0, failedClients = 0, twiceFailed = 0, unrecovered = 0;
    std::map<QString, std::pair<long, std::vector<int>>> acked;
    std::map<QString, long> unknown;
    for (int i = 0; i < clients; ++i) {
        const FleetClient &c = out[size_t(i)];
        all.merge(c.stats);
        gap.ms.insert(gap.ms.end(), c.gapMs.begin(), c.gapMs.end());
        next.ms.insert(next.ms.end(), c.nextMs.begin(), c.nextMs.end());
        failedAt.insert(failedAt.end(), c.failedAtSec.begin(), c.failedAtSec.end());
        for (const auto &[status, n] : c.statuses)
            statuses[status] += n;
        longestRun = std::max(longestRun, c.longestRun);
        failedClients += c.stats.errors > 0;
        twiceFailed += c.stats.errors > 1;
        unrecovered += !c.recovered;
        acked[activity[size_t(i)]].first += c.stats.writes;
        unknown[activity[size_t(i)]] += c.unknownWrites;
    }
    const AuditCheck audit = checkAudit(ctx.postgresUrl, acked);
    // More rows than writes sent, failed ones included: some write ran twice.
    long twice = 0;
    {
        Database db(*DatabaseConfig::parse(ctx.postgresUrl, &error));
        for (const auto &[a, ack] : acked)
            twice += std::max(0L, auditRows(db, a) - ack.first - unknown[a]);
    }
    std::sort(failedAt.begin(), failedAt.end());
    const bool met = audit.lostWrites == 0 && twice == 0 && audit.wrongPrevious == 0 && twiceFailed == 0
                     && unrecovered == 0 && next.pct(100) <= 1000;
    report("H8", "50 clients through nginx, H5's mix on five shared activities, a server killed and restarted meanwhile",
           QStringLiteral("%1 requests (%2/s), %3 failed (%4) for %5 clients%6; after a failure the next request was "
                          "answered within %7 ms at most, %8 ms after the failure (median %9 ms)%10; %11 writes "
                          "acknowledged, %12 failed, %13 lost, %14 applied twice, %15 audit rows wrong; p50 %16 ms, "
                          "p99 %17 ms, max %18 ms; %19")
               .arg(all.ms.size())
               .arg(double(all.ms.size()) / seconds, 0, 'f', 0)
               .arg(all.errors)
               .arg(statusCounts(statuses))
               .arg(failedClients)
               .arg(failedAt.empty() ? QString()
                                     : QStringLiteral(", sent between %1 s and %2 s")
                                           .arg(failedAt.front(), 0, 'f', 2)
                                           .arg(failedAt.back(), 0, 'f', 2))
               .arg(next.pct(100), 0, 'f', 1)
               .arg(gap.pct(100), 0, 'f', 1)
               .arg(gap.pct(50), 0, 'f', 1)
               .arg(twiceFailed || unrecovered
                        ? QStringLiteral("; %1 clients failed more than once (at most %2 in a row), %3 never served again")
                              .arg(twiceFailed)
                              .arg(longestRun)
                              .arg(unrecovered)
                        : QString())
               .arg(all.writes)
               .arg(std::accumulate(unknown.begin(), unknown.end(), 0L,
                                    [](long sum, const auto &u) { return sum + u.second; }))
               .arg(audit.lostWrites)
               .arg(twice)
               .arg(audit.wrongPrevious)
               .arg(all.pct(50), 0, 'f', 2)
               .arg(all.pct(99), 0, 'f', 2)
               .arg(all.pct(100), 0, 'f', 1)
               .arg(verdict(met)));
}

// ---- H9: one session, every server ----------------------------------------------

// A call without a live session is answered 200 with the JSON-RPC error -32001.
bool sessionRefused(const httplib::Result &r)
{
    return r && r->status == 200
           && QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object().value("error").toObject().value("code").toInt()
                  == -32001;
}

// A token from server 1 serves on the others; a logout on server 2 holds on
// servers 1 and 3 within a second; wrong passwords count together wherever
// they land.
void fleetSessions(Context &ctx)
{
    if (!fleetGiven(ctx, "H9", 3))
        return;
    const std::vector<int> &ports = ctx.fleetPorts;
    const std::string call = rpc("getProjeto", {"0001", "P1", ""}, 1);
    constexpr int rounds = 3, callsPerServer = 20, pollMs = 5;
    long asked = 0, accepted = 0, acceptedAfterRefusal = 0, otherAnswers = 0;
    int loggedOut = 0, neverRefused = 0;
    std::vector<double> refusedMs[2]; // servers 1 and 3: from the logout's answer to the first refused call's start
    std::mt19937 rng(9);
    for (int round = 0; round < rounds; ++round) {
        const std::string token = login(ports[0], "ANA", "ana123");
        if (token.empty()) {
            g_fleetMissed = true;
            return report("H9", "fleet", "ANA could not log in on server 1");
        }
        const httplib::Headers auth{{"Authorization", "Bearer " + token}};
        for (size_t s : {size_t(1), size_t(2)}) {
            httplib::Client c("127.0.0.1", ports[s]);
            c.set_keep_alive(true);
            c.set_tcp_nodelay(true);
            for (int k = 0; k < callsPerServer; ++k, ++asked)
                accepted += okReply(c.Post(kModule, auth, call, "application/json"));
        }
        // Servers 1 and 3 keep using the token, a call every pollMs, until they
        // refuse it, and a little longer to see that they go on refusing.
        std::atomic<bool> out{false};
        std::atomic<int> served{0};
        Clock::time_point logoutAt;
        const int watched[2] = {ports[0], ports[2]};
        double refused[2] = {-1, -1};
        long late[2] = {0, 0};
        std::atomic<long> odd[2] = {0, 0};
        std::thread watchers[2];
        for (int w = 0; w < 2; ++w) {
            watchers[w] = std::thread([&, w] {
                httplib::Client c("127.0.0.1", watched[w]);
                c.set_keep_alive(true);
                c.set_tcp_nodelay(true);
                c.set_read_timeout(5, 0);
                bool first = true;
                Clock::time_point refusedAt;
                for (;;) {
                    const bool after = out.load();
                    const auto t0 = Clock::now();
                    if (after && (refused[w] >= 0 ? t0 > refusedAt + std::chrono::milliseconds(300)
                                                  : t0 > logoutAt + std::chrono::seconds(5)))
                        break;
                    const auto r = c.Post(kModule, auth, call, "application/json");
                    if (sessionRefused(r)) {
                        if (refused[w] < 0) {
                            refusedAt = t0;
                            refused[w] = after ? std::max(0.0, msBetween(logoutAt, t0)) : 0;
                        }
                    } else if (okReply(r)) {
                        if (first)
                            ++served;
                        first = false;
                        late[w] += refused[w] >= 0;
                    } else {
                        ++odd[w];
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
                }
            });
        }
        while (served < 2 && odd[0] + odd[1] == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // A different moment in each process's second of trust each round.
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 1000));
        httplib::Client c2("127.0.0.1", ports[1]);
        const auto r = c2.Delete("/session", auth);
        logoutAt = Clock::now();
        out = true;
        loggedOut += r && r->status == 204;
        for (std::thread &t : watchers)
            t.join();
        for (int w = 0; w < 2; ++w) {
            if (refused[w] >= 0)
                refusedMs[w].push_back(refused[w]);
            else
                ++neverRefused;
            acceptedAfterRefusal += late[w];
            otherAnswers += odd[w];
        }
    }
    // Wrong passwords for BIA from one address, round the three servers.
    clearLoginCounts(ctx);
    QStringList answers;
    int firstThrottled = 0;
    bool freeOnesRefused = true;
    for (int a = 1; a <= 8; ++a) {
        const LoginTry t = loginFrom(ports[size_t(a - 1) % 3], "127.0.0.60", "BIA", QStringLiteral("guess%1").arg(a));
        answers << QString::number(t.status);
        if (t.status == 429 && !firstThrottled)
            firstThrottled = a;
        if (a <= 5)
            freeOnesRefused = freeOnesRefused && t.status == 401;
    }
    const LoginTry real = loginFrom(ports[0], "127.0.0.61", "BIA", "bia123");
    clearLoginCounts(ctx);
    double worst = 0;
    QStringList perServer;
    for (int w = 0; w < 2; ++w) {
        QStringList ms;
        for (double v : refusedMs[w]) {
            ms << QString::number(v, 'f', 0);
            worst = std::max(worst, v);
        }
        perServer << QStringLiteral("server %1 after %2 ms").arg(w == 0 ? 1 : 3).arg(ms.join(", "));
    }
    const bool met = accepted == asked && loggedOut == rounds && neverRefused == 0 && acceptedAfterRefusal == 0
                     && otherAnswers == 0 && worst <= 1000 + pollMs && freeOnesRefused && firstThrottled == 6;
    report("H9", "a token from server 1 on servers 2 and 3, a logout on 2; wrong passwords round the three servers",
           QStringLiteral("%1 of %2 calls on servers 2 and 3 accepted; after %3 logouts on server 2 the token was refused "
                          "(calls %11 ms apart) by %4%5%6; wrong passwords for BIA from one address on servers 1,2,3,1,2,3,1,2 answered %7 "
                          "(the first 429 at attempt %8); BIA's right password from another address then: %9; %10")
               .arg(accepted)
               .arg(asked)
               .arg(loggedOut)
               .arg(perServer.join("; "))
               .arg(neverRefused ? QStringLiteral("; %1 times not refused within 5 s").arg(neverRefused) : QString())
               .arg(acceptedAfterRefusal + otherAnswers
                        ? QStringLiteral("; %1 calls accepted after a refusal, %2 other answers")
                              .arg(acceptedAfterRefusal)
                              .arg(otherAnswers)
                        : QString())
               .arg(answers.join(' '))
               .arg(firstThrottled ? QString::number(firstThrottled) : QStringLiteral("none"))
               .arg(real.status)
               .arg(verdict(met))
               .arg(pollMs));
}

// ---- H10: attackers beside the operator they try to be -----------------------------

using LoginAttack = std::function<void(int port, StopFlag &, const std::function<void(int status)> &seen)>;

// The real operator logs in from `from` every 500 ms through nginx while
// `attack` runs; each try must get in within 2 s, and the attacker must
// still be held back.
void lockoutCase(Context &ctx, const char *id, const char *what, const char *op, const char *password, const char *from,
                 const LoginAttack &attack)
{
    clearLoginCounts(ctx);
    StopFlag stop;
    std::mutex mutex;
    std::map<int, long> attacker;
    const auto seen = [&](int status) {
        std::lock_guard lock(mutex);
        ++attacker[status];
    };
    std::thread attackThread([&] { attack(ctx.fleetPort, stop, seen); });
    stop.waitFor(std::chrono::milliseconds(500)); // the attacker's failures first
    Stats in;
    std::map<int, long> notIn;
    long slow = 0, tries = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::seconds(ctx.secondsGiven ? ctx.seconds : 20);
    for (int i = 0;; ++i) {
        const auto at = start + std::chrono::milliseconds(500) * i;
        if (at >= until)
            break;
        std::this_thread::sleep_until(at);
        const LoginTry t = loginFrom(ctx.fleetPort, from, op, password);
        ++tries;
        if (t.status == 200 && !t.token.empty() && t.ms <= 2000)
            in.ms.push_back(t.ms);
        else if (t.status == 200)
            ++slow;
        else
            ++notIn[t.status];
    }
    stop.raise();
    attackThread.join();
    long attempts = 0;
    for (const auto &[status, n] : attacker)
        attempts += n;
    const double share = tries ? 100.0 * double(in.ms.size()) / double(tries) : 0;
    const long throttled = attacker.count(429) ? attacker[429] : 0;
    report(id, what,
           QStringLiteral("%1: %2 of %3 tries in within 2 s (%4 %), p50 %5 ms, max %6 ms%7%8; attacker: %9 attempts, "
                          "answered %10; %11")
               .arg(QString::fromLatin1(op))
               .arg(in.ms.size())
               .arg(tries)
               .arg(share, 0, 'f', 1)
               .arg(in.pct(50), 0, 'f', 1)
               .arg(in.pct(100), 0, 'f', 1)
               .arg(notIn.empty() ? QString() : QStringLiteral("; not in: %1").arg(statusCounts(notIn)))
               .arg(slow ? QStringLiteral("; %1 in after more than 2 s").arg(slow) : QString())
               .arg(attempts)
               .arg(statusCounts(attacker))
               .arg(verdict(share >= 95 && throttled > 0)));
}

// One attacker from `from`, a try every `pauseMs`; `nth(n)` says whom it tries.
LoginAttack steadyAttacker(const char *from, int pauseMs, std::function<std::pair<QString, QString>(long n)> nth)
{
    return [from, pauseMs, nth](int port, StopFlag &stop, const std::function<void(int)> &seen) {
        for (long n = 0; !stop.set; ++n) {
            const auto [op, password] = nth(n);
            seen(loginFrom(port, from, op, password).status);
            stop.waitFor(std::chrono::milliseconds(pauseMs));
        }
    };
}

void lockouts(Context &ctx, QChar which)
{
    if (!fleetGiven(ctx, qPrintable(QStringLiteral("H10%1").arg(which)), 0))
        return;
    const auto guess = [](long n) { return QStringLiteral("guess%1").arg(n); };
    // Behind one address (a proxy, an office's NAT) the attacker guesses other
    // codes; one guessing BIA's own password from BIA's own address cannot be
    // told from BIA without something only BIA's workstation holds.
    if (which == 'a')
        lockoutCase(ctx, "H10a", "shared address: wrong passwords for made-up codes, and BIA, all from 127.0.0.50",
                    "BIA", "bia123", "127.0.0.50", steadyAttacker("127.0.0.50", 20, [guess](long n) {
                        return std::pair{QStringLiteral("ZE%1").arg(n), guess(n)};
                    }));
    else if (which == 'b')
        lockoutCase(ctx, "H10b", "per operator: wrong passwords for ANA every 20 ms from 127.0.0.51, ANA from 127.0.0.52",
                    "ANA", "ana123", "127.0.0.52",
                    steadyAttacker("127.0.0.51", 20, [guess](long n) { return std::pair{QStringLiteral("ANA"), guess(n)}; }));
    else if (which == 'c')
        lockoutCase(ctx, "H10c", "the pool: 150 concurrent logins for made-up codes from 127.0.1.1-150, BIA from 127.0.0.53",
                    "BIA", "bia123", "127.0.0.53", [guess](int port, StopFlag &stop, const std::function<void(int)> &seen) {
                        std::vector<std::thread> crowd;
                        for (int t = 1; t <= 150; ++t)
                            crowd.emplace_back([&, t] {
                                const std::string from = "127.0.1." + std::to_string(t);
                                for (long n = 0; !stop.set; ++n) {
                                    seen(loginFrom(port, from.c_str(), QStringLiteral("X%1N%2").arg(t).arg(n), guess(n)).status);
                                    stop.waitFor(std::chrono::milliseconds(50));
                                }
                            });
                        for (std::thread &t : crowd)
                            t.join();
                    });
    else if (which == 'd')
        lockoutCase(ctx, "H10d", "reset abuse: wrong passwords for ANA every 100 ms from 127.0.0.54 between ANA's logins from 127.0.0.55",
                    "ANA", "ana123", "127.0.0.55",
                    steadyAttacker("127.0.0.54", 100, [guess](long n) { return std::pair{QStringLiteral("ANA"), guess(n)}; }));
}

// ---- B9: throughput and its cost, one server or three behind nginx ----------------

// utime + stime (and, with `reaped`, those of children already waited for), in ms.
double cpuMsOf(qint64 pid, bool reaped, qint64 *parent = nullptr)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // The name in parentheses may hold spaces; the fields after it do not.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return 0;
    if (parent)
        *parent = fields[1].toLongLong();
    double ticks = fields[11].toDouble() + fields[12].toDouble();
    if (reaped)
        ticks += fields[13].toDouble() + fields[14].toDouble();
    return ticks * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

// A process and its children: PostgreSQL's backends, nginx's workers. A child
// that ends in between moves its time into its parent's reaped figures.
double treeCpuMs(qint64 root)
{
    if (root <= 0)
        return 0;
    double ms = cpuMsOf(root, true);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        qint64 parent = 0;
        if (number && pid != root) {
            const double own = cpuMsOf(pid, true, &parent);
            if (parent == root)
                ms += own;
        }
    }
    return ms;
}

// The postmaster: given, or the process started with "-p PORT" of the URL.
qint64 postmaster(const Context &ctx)
{
    if (ctx.postgresPid > 0 || ctx.postgresUrl.isEmpty())
        return ctx.postgresPid;
    QString error;
    const std::optional<DatabaseConfig> config = DatabaseConfig::parse(ctx.postgresUrl, &error);
    if (!config || config->port <= 0)
        return 0;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = f.readAll().split('\0');
        for (qsizetype i = 0; i + 1 < args.size(); ++i)
            if (args[i] == "-p" && args[i + 1].toInt() == config->port && args[0].endsWith("postgres"))
                return entry.toLongLong();
    }
    return 0;
}

struct Burst
{
    Stats stats;
    double seconds = 0;
    double serversMs = 0, postgresMs = 0, nginxMs = 0;
};

// B5's 16 clients against `port`, the processes' time measured around them.
Burst burst(const Context &ctx, int port, const std::string &token, qint64 postgres)
{
    const std::string body = rpc("getApropriaCSA", {"0001", "P1", "T1", "1"}, 1);
    const auto servers = [&] {
        double ms = 0;
        for (qint64 pid : ctx.fleetPids)
            ms += cpuMsOf(pid, false);
        return ms;
    };
    Burst out;
    const double servers0 = servers(), postgres0 = treeCpuMs(postgres), nginx0 = treeCpuMs(ctx.nginxPid);
    const auto start = Clock::now();
    const auto until = start + std::chrono::seconds(std::min(ctx.seconds, 10));
    std::vector<Stats> stats(16);
    std::vector<std::thread> clients;
    for (Stats &st : stats)
        clients.emplace_back([&, st = &st] {
            httplib::Client c("127.0.0.1", port);
            c.set_keep_alive(true);
            c.set_tcp_nodelay(true);
            const httplib::Headers auth{{"Authorization", "Bearer " + token}};
            while (Clock::now() < until) {
                const auto t0 = Clock::now();
                const auto r = c.Post(kModule, auth, body, "application/json");
                st->ms.push_back(msBetween(t0, Clock::now()));
                if (!okReply(r))
                    ++st->errors;
            }
        });
    for (std::thread &t : clients)
        t.join();
    out.seconds = msBetween(start, Clock::now()) / 1000;
    out.serversMs = servers() - servers0;
    out.postgresMs = treeCpuMs(postgres) - postgres0;
    out.nginxMs = treeCpuMs(ctx.nginxPid) - nginx0;
    for (const Stats &st : stats)
        out.stats.merge(st);
    return out;
}

void fleetThroughput(Context &ctx)
{
    if (!fleetGiven(ctx, "B9", 1))
        return;
    const std::string token = login(ctx.fleetPorts[0], "ANA", "ana123");
    if (token.empty()) {
        g_fleetMissed = true;
        return report("B9", "fleet", "ANA could not log in on server 1");
    }
    const qint64 postgres = postmaster(ctx);
    const auto line = [&](const char *what, const Burst &b) {
        const double n = double(std::max<size_t>(1, b.stats.ms.size()));
        Stats s = b.stats;
        QStringList cost;
        if (!ctx.fleetPids.empty())
            cost << QStringLiteral("servers %1 ms").arg(b.serversMs / n, 0, 'f', 3);
        if (postgres > 0)
            cost << QStringLiteral("PostgreSQL %1 ms").arg(b.postgresMs / n, 0, 'f', 3);
        if (ctx.nginxPid > 0 && b.nginxMs > 0)
            cost << QStringLiteral("nginx %1 ms").arg(b.nginxMs / n, 0, 'f', 3);
        report("B9", what,
               QStringLiteral("%1 req/s, p50 %2 ms, p99 %3 ms, %4 errors; processor time per request: %5; %6")
                   .arg(double(s.ms.size()) / b.seconds, 0, 'f', 0)
                   .arg(s.pct(50), 0, 'f', 2)
                   .arg(s.pct(99), 0, 'f', 1)
                   .arg(s.errors)
                   .arg(cost.isEmpty() ? QStringLiteral("not measured (no --fleet-pids)") : cost.join(", "))
                   .arg(verdict(s.errors == 0)));
    };
    line("16 keep-alive clients, getApropriaCSA, no pause: one server directly", burst(ctx, ctx.fleetPorts[0], token, postgres));
    if (ctx.fleetPort > 0)
        line(qPrintable(QStringLiteral("the same through nginx over %1 servers").arg(ctx.fleetPorts.size())),
             burst(ctx, ctx.fleetPort, token, postgres));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Context ctx;
    if (qEnvironmentVariableIsSet("VOR_LOAD_KEEP")) { // keep the databases and server logs
        ctx.dir.setAutoRemove(false);
        std::fprintf(stderr, "keeping %s\n", qPrintable(ctx.dir.path()));
    }
    ctx.serverBin = QCoreApplication::applicationDirPath() + "/vor01300-server";
    ctx.postgresUrl = qEnvironmentVariable("VOR_TEST_POSTGRESQL");
    QStringList scenarios{"H1", "H2", "H3", "H4", "H5", "H6", "H7", "H11", "H12", "H13", "H14"};
    const QStringList args = app.arguments();
    const auto numbers = [](const QString &list) {
        std::vector<qint64> out;
        for (const QString &n : list.split(QRegularExpression("[, ]"), Qt::SkipEmptyParts))
            out.push_back(n.toLongLong());
        return out;
    };
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--scenario" && args[i + 1] != "all")
            scenarios = args[i + 1].split(',');
        else if (args[i] == "--prepare-fleet-db")
            return prepareFleetDb(args[i + 1]);
        else if (args[i] == "--seconds") {
            ctx.seconds = args[i + 1].toInt();
            ctx.secondsGiven = true;
        }
        else if (args[i] == "--fleet")
            ctx.fleetPort = args[i + 1].section(':', -1).toInt();
        else if (args[i] == "--fleet-ports")
            for (qint64 p : numbers(args[i + 1]))
                ctx.fleetPorts.push_back(int(p));
        else if (args[i] == "--fleet-pids")
            ctx.fleetPids = numbers(args[i + 1]);
        else if (args[i] == "--postgres-pid")
            ctx.postgresPid = args[i + 1].toLongLong();
        else if (args[i] == "--nginx-pid")
            ctx.nginxPid = args[i + 1].toLongLong();
        else if (args[i] == "--postgresql")
            ctx.postgresUrl = args[i + 1];
        else if (args[i] == "--server-bin")
            ctx.serverBin = args[i + 1];
        else if (args[i] == "--think-ms")
            g_thinkMs = args[i + 1].toInt();
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("# | scenario | result  (clients pause %d ms on average after each answer)\n", g_thinkMs);
    for (const QString &s : scenarios) {
        if (s == "H1")
            mixedLoad(ctx, "H1", false, false);
        else if (s == "H2")
            mixedLoad(ctx, "H2", true, false);
        else if (s == "H3")
            loginFlood(ctx);
        else if (s == "H4")
            gzipBomb(ctx);
        else if (s == "H5" && ctx.postgresUrl.isEmpty())
            report("H5", "PostgreSQL", "skipped: no --postgresql URL (or VOR_TEST_POSTGRESQL)");
        else if (s == "H5")
            mixedLoad(ctx, "H5", false, true);
        else if (s == "H6")
            manyKeepAlive(ctx);
        else if (s == "H7")
            largestReads(ctx);
        else if (s == "H11")
            for (const QChar c : QStringLiteral("abcd"))
                abuse(ctx, c);
        else if (s.size() == 4 && s.startsWith("H11"))
            abuse(ctx, s.back());
        else if (s == "H12")
            slowCrowd(ctx);
        else if (s == "H13")
            smuggling(ctx);
        else if (s == "B5")
            throughput(ctx);
        else if (s == "H14")
            injectedFaults(ctx);
        else if (s == "H8")
            fleetFailover(ctx);
        else if (s == "H9")
            fleetSessions(ctx);
        else if (s == "H10")
            for (const QChar c : QStringLiteral("abcd"))
                lockouts(ctx, c);
        else if (s.size() == 4 && s.startsWith("H10"))
            lockouts(ctx, s.back());
        else if (s == "B9")
            fleetThroughput(ctx);
    }
    return g_fleetMissed ? 1 : 0;
}

// Load and abuse of the application server over loopback: the scenarios H1-H7
// of docs/operations.md. Starts the built server itself, on a fresh database
// per scenario, and reads that database afterwards to check the writes.
//
// Run: build/bin/vor_load [--scenario H1,H2,...|all] [--seconds N] [--think-ms N]
//                         [--postgresql postgresql://USER@HOST:PORT/DB]  (H5; or VOR_TEST_POSTGRESQL)
#include "Database.h"
#include "Fixture.h"

#include <QCoreApplication>
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
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
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
        const int dice = int(rng() % 100);
        std::string body;
        int value = -1;
        if (!activity.isEmpty() && dice < 15) {
            value = int(rng() % 101);
            body = rpc("SetAtualizaConcCSA", {"0001", "P1", "001", "001", activity, QString::number(value)}, ++id);
        } else if (dice < 45) {
            body = rpc("getApropriaCSA", {"0001", "P1", QStringLiteral("T%1").arg(1 + rng() % 100), "1"}, ++id);
        } else if (dice < 70) {
            body = rpc("getProjeto", {"0001", "P1", ""}, ++id);
        } else if (dice < 90) {
            body = rpc("getFiltroOper", {"0001", "P1", "", "T"}, ++id);
        } else {
            body = rpc("getPlanProj", {"0001", "P1"}, ++id);
        }
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

int connectFrom(int port, const char *from)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
// the server drops is opened again.
void attackers(int port, const char *from, int count, bool slowHead, const std::atomic<bool> &stop,
               std::atomic<long> *dropped)
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
    QTemporaryDir dir;
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
            attack.emplace_back(attackers, server.port, a, 50, true, std::cref(stopAttack), &dropped);
        attack.emplace_back(attackers, server.port, "127.0.0.6", 40, false, std::cref(stopAttack), &dropped);
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
    QStringList scenarios{"H1", "H2", "H3", "H4", "H5", "H6", "H7"};
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--scenario" && args[i + 1] != "all")
            scenarios = args[i + 1].split(',');
        else if (args[i] == "--seconds")
            ctx.seconds = args[i + 1].toInt();
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
    }
    return 0;
}

// vor01300-server: the application server of the remote module
// "VOR01300.rdmConcAtivProje" (see docs/protocol.md).
#include "Auth.h"
#include "Database.h"
#include "FdBudget.h"
#include "Fixture.h"
#include "HttpServer.h"
#include "ServerCore.h"
#include "ServerOptions.h"

#include <QCoreApplication>
#include <QFile>

#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

// SIGINT/SIGTERM may land on any thread (database client libraries start
// their own); the handler only writes to a pipe that one thread watches.
int g_stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const char c = 1;
    const ssize_t n = ::write(g_stopPipe[1], &c, 1);
    (void)n;
}

void installStopHandlers()
{
    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void fail(const QString &message)
{
    std::fprintf(stderr, "vor01300-server: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe(g_stopPipe) != 0) {
        std::perror("vor01300-server: pipe");
        return 1;
    }
    installStopHandlers();

    // Few malloc arenas, and large blocks mapped apart, so memory freed after a
    // big reply goes back to the system instead of staying with each thread.
    mallopt(M_ARENA_MAX, 2);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);

    QCoreApplication app(argc, argv);
    ServerOptions options;
    QString error, usage;
    if (!options.parse(app.arguments(), &error, &usage)) {
        fail(error);
        std::fputs(usage.toLocal8Bit().constData(), stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(usage.toLocal8Bit().constData(), stderr);
        return 0;
    }
    HttpLimits &limits = options.http;
    ServerCore::Limits coreLimits;
    const QString &host = options.listenHost;
    const QString &importFile = options.importFile;

    // The parser has checked the database address; reading it again costs no I/O.
    Database db(*DatabaseConfig::parse(options.database, &error));
    try {
        db.createSchema();
        if (!importFile.isEmpty()) {
            QFile f(importFile);
            if (!f.open(QIODevice::ReadOnly)) {
                fail(QStringLiteral("cannot read %1: %2").arg(importFile, f.errorString()));
                return 1;
            }
            Fixture::import(db, f.readAll());
            std::fprintf(stderr, "vor01300-server: imported %s\n", importFile.toLocal8Bit().constData());
        }
        if (options.demo && Fixture::loadDemoIfEmpty(db))
            std::fputs("vor01300-server: demo data loaded\n", stderr);
    } catch (const FixtureError &e) {
        fail(QStringLiteral("fixture refused, nothing imported: %1").arg(e.text()));
        return 1;
    } catch (const DbError &e) {
        fail(QStringLiteral("database: %1").arg(QString::fromUtf8(e.what())));
        return 1;
    }

    // Every connection holds a descriptor: take all the limit allows, then
    // keep the connection cap within it, room left for the database and logs.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        if (files.rlim_cur < files.rlim_max && files.rlim_max != RLIM_INFINITY) {
            rlimit raised = files;
            raised.rlim_cur = files.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                files = raised;
        }
        const std::uint64_t fdLimit = files.rlim_cur == RLIM_INFINITY ? UINT64_MAX : std::uint64_t(files.rlim_cur);
        const int cap = FdBudget::connectionCap(limits.maxConnections, fdLimit, limits.workers, limits.loginWorkers);
        if (cap < limits.maxConnections) {
            std::fprintf(stderr,
                         "vor01300-server: at most %d connections: the process may open %llu files (raise LimitNOFILE "
                         "or ulimit -n for more)\n",
                         cap, static_cast<unsigned long long>(fdLimit));
            limits.maxConnections = cap;
        }
        limits.maxPerAddress = std::min(limits.maxPerAddress, limits.maxConnections);
    }

    SessionStore sessions(db);
    sessions.setLimits(qint64(options.sessionIdleHours * 3600000.0), qint64(options.sessionLifetimeHours * 3600000.0));
    coreLimits.hashingSlots = limits.loginWorkers;
    coreLimits.health = !limits.noHealth;
    coreLimits.metrics = !limits.noMetrics;
    coreLimits.answerCacheBytes = qint64(limits.answerCacheMiB) * 1024 * 1024;
    coreLimits.adminListener = limits.adminPort >= 0;
    ServerCore core(db, sessions, {}, {}, {}, coreLimits);
    HttpServer http(core, limits);
    if (!http.isValid()) {
        fail(QStringLiteral("cannot load the TLS certificate %1 or its key %2").arg(limits.tlsCert, limits.tlsKey));
        return 1;
    }
    const int bound = http.bind(host, options.listenPort);
    if (bound < 0) {
        fail(QStringLiteral("cannot listen on %1").arg(ServerOptions::addressText(host, options.listenPort)));
        return 1;
    }

    std::atomic<bool> served{false};
    std::thread stopper([&http, &served] {
        char c = 0;
        while (::read(g_stopPipe[0], &c, 1) < 0 && errno == EINTR) {
        }
        // A signal that came before serving began is honoured once it has;
        // stop() is called once only.
        while (!served) {
            if (http.isRunning()) {
                http.stop();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    if (limits.adminPort >= 0) {
        const int admin = http.bindAdmin(limits.adminHost, limits.adminPort);
        if (admin < 0) {
            fail(QStringLiteral("cannot listen on %1 for /health and /metrics")
                     .arg(ServerOptions::addressText(limits.adminHost, limits.adminPort)));
            return 1;
        }
        std::printf("health and metrics on %s\n",
                    ServerOptions::addressText(limits.adminHost, admin).toLocal8Bit().constData());
    }
    std::printf("listening on %s\n", ServerOptions::addressText(host, bound).toLocal8Bit().constData());
    std::fflush(stdout);
    const bool ok = http.serve();
    served = true;
    onStopSignal(0); // wakes the watcher when serving ended without a signal
    stopper.join();
    return ok ? 0 : 1;
}

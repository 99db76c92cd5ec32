// vor01300-server: the application server of the remote module
// "VOR01300.rdmConcAtivProje" (see docs/protocol.md).
#include "Auth.h"
#include "Database.h"
#include "FdBudget.h"
#include "Fixture.h"
#include "HttpServer.h"
#include "ServerCore.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

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

void usage()
{
    std::fputs("usage: vor01300-server --database sqlite:PATH|postgresql://USER@HOST:PORT/DB\n"
               "                       [--listen HOST:PORT] [--import FILE] [--demo] [--threads N]\n"
               "                       [--tls-cert FILE --tls-key FILE]\n"
               "                       [--session-idle-hours H] [--session-lifetime-hours H]\n"
               "                       [--max-connections N] [--max-per-address N] [--backlog N]\n"
               "                       [--head-timeout SEC] [--min-rate BYTES_PER_SEC] [--idle-timeout SEC]\n"
               "                       [--max-requests-per-connection N] [--login-threads N]\n"
               "PostgreSQL's password may come from PGPASSWORD or ~/.pgpass instead of the URL.\n",
               stderr);
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
    QString databaseSpec, listen = QStringLiteral("127.0.0.1:8470"), importFile;
    bool demo = false;
    HttpLimits limits;
    ServerCore::Limits coreLimits;
    double idleHours = SessionStore::kIdleLimitMs / 3600000.0, lifetimeHours = SessionStore::kLifetimeMs / 3600000.0;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString *out) {
            if (i + 1 >= args.size()) {
                fail(QStringLiteral("%1 needs a value").arg(a));
                return false;
            }
            *out = args[++i];
            return true;
        };
        QString text;
        if (a == QLatin1String("--database")) {
            if (!value(&databaseSpec))
                return 2;
        } else if (a == QLatin1String("--listen")) {
            if (!value(&listen))
                return 2;
        } else if (a == QLatin1String("--import")) {
            if (!value(&importFile))
                return 2;
        } else if (a == QLatin1String("--demo")) {
            demo = true;
        } else if (a == QLatin1String("--tls-cert")) {
            if (!value(&limits.tlsCert))
                return 2;
        } else if (a == QLatin1String("--tls-key")) {
            if (!value(&limits.tlsKey))
                return 2;
        } else if (a == QLatin1String("--session-idle-hours") || a == QLatin1String("--session-lifetime-hours")) {
            if (!value(&text))
                return 2;
            bool ok = false;
            const double h = text.toDouble(&ok);
            if (!ok || h <= 0 || h > 24 * 365) {
                fail(QStringLiteral("%1 takes a number of hours above 0").arg(a));
                return 2;
            }
            (a == QLatin1String("--session-idle-hours") ? idleHours : lifetimeHours) = h;
        } else if (a == QLatin1String("--threads") || a == QLatin1String("--max-connections")
                   || a == QLatin1String("--max-per-address") || a == QLatin1String("--backlog")
                   || a == QLatin1String("--head-timeout") || a == QLatin1String("--min-rate")
                   || a == QLatin1String("--idle-timeout") || a == QLatin1String("--max-requests-per-connection")
                   || a == QLatin1String("--login-threads")) {
            struct Numeric { const char *name; int *target; int min, max; };
            const Numeric numerics[] = {
                {"--threads", &limits.workers, 1, 256},
                {"--max-connections", &limits.maxConnections, 1, 100000},
                {"--max-per-address", &limits.maxPerAddress, 1, 100000},
                {"--backlog", &limits.backlog, 16, 65535},
                {"--head-timeout", &limits.headTimeoutSec, 1, 3600},
                {"--min-rate", &limits.minBytesPerSec, 1, 1 << 30},
                {"--idle-timeout", &limits.idleTimeoutSec, 1, 3600},
                {"--max-requests-per-connection", &limits.maxRequestsPerConnection, 1, 1000000},
                {"--login-threads", &limits.loginWorkers, 1, 256},
            };
            if (!value(&text))
                return 2;
            for (const Numeric &n : numerics) {
                if (a != QLatin1String(n.name))
                    continue;
                bool ok = false;
                *n.target = text.toInt(&ok);
                if (!ok || *n.target < n.min || *n.target > n.max) {
                    fail(QStringLiteral("%1 takes a number from %2 to %3").arg(a).arg(n.min).arg(n.max));
                    return 2;
                }
            }
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            usage();
            return 0;
        } else {
            fail(QStringLiteral("unknown option %1").arg(a));
            usage();
            return 2;
        }
    }
    if (databaseSpec.isEmpty()) {
        usage();
        return 2;
    }
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = colon > 0 ? listen.mid(colon + 1).toInt(&portOk) : -1;
    if (!portOk || port < 0 || port > 65535) {
        fail(QStringLiteral("--listen takes HOST:PORT"));
        return 2;
    }
    const QString host = listen.left(colon);

    QString error;
    auto config = DatabaseConfig::parse(databaseSpec, &error);
    if (!config) {
        fail(error);
        return 2;
    }
    if (limits.tlsCert.isEmpty() != limits.tlsKey.isEmpty()) {
        fail(QStringLiteral("--tls-cert and --tls-key go together"));
        return 2;
    }
    Database db(*config);
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
        if (demo && Fixture::loadDemoIfEmpty(db))
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

    SessionStore sessions;
    sessions.setLimits(qint64(idleHours * 3600000.0), qint64(lifetimeHours * 3600000.0));
    coreLimits.hashingSlots = limits.loginWorkers;
    ServerCore core(db, sessions, {}, {}, {}, coreLimits);
    HttpServer http(core, limits);
    if (!http.isValid()) {
        fail(QStringLiteral("cannot load the TLS certificate %1 or its key %2").arg(limits.tlsCert, limits.tlsKey));
        return 1;
    }
    const int bound = http.bind(host, port);
    if (bound < 0) {
        fail(QStringLiteral("cannot listen on %1").arg(listen));
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

    std::printf("listening on %s:%d\n", host.toLocal8Bit().constData(), bound);
    std::fflush(stdout);
    const bool ok = http.serve();
    served = true;
    onStopSignal(0); // wakes the watcher when serving ended without a signal
    stopper.join();
    return ok ? 0 : 1;
}

#include "ServerOptions.h"

#include "Address.h"

#include "Database.h"

#include <algorithm>
#include <variant>

namespace {

// --listen and --admin-listen set host and port together.
struct ListenTarget
{
};
struct AdminListenTarget
{
};

using Target = std::variant<QString ServerOptions::*, bool ServerOptions::*, double ServerOptions::*,
                            QString HttpLimits::*, int HttpLimits::*, bool HttpLimits::*, ListenTarget,
                            AdminListenTarget>;

struct Option
{
    const char *name;
    const char *value; // what follows the name; nullptr: a flag
    Target target;
    int min, max;      // numbers: the range taken (hours: above min)
    const char *help;
};

// Each option once, in the order the usage lists them.
const Option kOptions[] = {
    {"--database", "DATABASE", &ServerOptions::database, 0, 0,
     "required: sqlite:PATH or postgresql://USER@HOST:PORT/DB[?schema=NAME]; PostgreSQL's password may come "
     "from PGPASSWORD or ~/.pgpass instead of the URL"},
    {"--listen", "HOST:PORT", ListenTarget{}, 0, 0, "address to serve on, IPv6 as [::1]:PORT; port 0 takes a free one"},
    {"--import", "FILE", &ServerOptions::importFile, 0, 0, "load this fixture before serving"},
    {"--demo", nullptr, &ServerOptions::demo, 0, 0, "fill an empty database with the demo data"},
    {"--tls-cert", "FILE", &HttpLimits::tlsCert, 0, 0, "serve HTTPS with this certificate chain (PEM), with --tls-key"},
    {"--tls-key", "FILE", &HttpLimits::tlsKey, 0, 0, "the certificate's private key (PEM)"},
    {"--threads", "N", &HttpLimits::workers, 1, 256, "workers running requests, each with its database connection"},
    {"--login-threads", "N", &HttpLimits::loginWorkers, 1, 256, "workers checking the passwords of logins"},
    {"--io-threads", "N", &HttpLimits::ioThreads, 0, 64,
     "threads reading and writing sockets; 0: one per processor, at most 4"},
    {"--max-queued", "N", &HttpLimits::maxQueued, 1, 100000, "requests waiting for a worker; beyond, 503"},
    {"--max-connections", "N", &HttpLimits::maxConnections, 1, 100000,
     "open connections in all; beyond, the idlest or slowest is closed"},
    {"--max-per-address", "N", &HttpLimits::maxPerAddress, 1, 100000,
     "open connections from one client address; beyond, 503"},
    {"--backlog", "N", &HttpLimits::backlog, 16, 65535, "connections waiting in the kernel's listen queue"},
    {"--max-head-bytes", "N", &HttpLimits::maxHeadBytes, 1024, 1048576,
     "request line and headers together; beyond, 431"},
    {"--head-timeout", "SEC", &HttpLimits::headTimeoutSec, 1, 3600,
     "time for a request's line and headers, from its first byte"},
    {"--min-rate", "BYTES_PER_SEC", &HttpLimits::minBytesPerSec, 1, 1 << 30,
     "a body coming in and a reply going out at least this fast..."},
    {"--rate-window", "SEC", &HttpLimits::rateWindowSec, 1, 3600, "...over any window of this many seconds"},
    {"--idle-timeout", "SEC", &HttpLimits::idleTimeoutSec, 1, 3600,
     "time a kept-alive connection may wait for its next request"},
    {"--max-requests-per-connection", "N", &HttpLimits::maxRequestsPerConnection, 1, 1000000,
     "requests on one connection before it is closed"},
    {"--body-memory-mib", "N", &HttpLimits::bodyMemoryMiB, 16, 65536,
     "request bodies in flight, all connections together"},
    {"--reply-memory-mib", "N", &HttpLimits::replyMemoryMiB, 16, 65536,
     "replies built and not yet sent, all connections together"},
    {"--answer-cache-mib", "N", &HttpLimits::answerCacheMiB, 0, 65536,
     "encoded answers of the reads kept for reuse while their data is unchanged (0: none)"},
    {"--session-idle-hours", "H", &ServerOptions::sessionIdleHours, 0, 24 * 365,
     "a session lapses after this long without use"},
    {"--session-lifetime-hours", "H", &ServerOptions::sessionLifetimeHours, 0, 24 * 365,
     "and this long after its login in any case"},
    {"--no-health", nullptr, &HttpLimits::noHealth, 0, 0, "no GET /health (200 while the database answers, else 503)"},
    {"--no-metrics", nullptr, &HttpLimits::noMetrics, 0, 0, "no GET /metrics (Prometheus text format)"},
    {"--admin-listen", "HOST:PORT", AdminListenTarget{}, 0, 0,
     "serve /health and /metrics on this address only, and nothing else there"},
    {"--trusted-proxy", "ADDRESSES", &HttpLimits::trustedProxies, 0, 0,
     "comma-separated proxy addresses whose X-Forwarded-For names the client"},
    {"--inject-faults", nullptr, &HttpLimits::injectFaults, 0, 0,
     "for tests only: honour the X-Vor-Inject header, which makes requests fail on purpose"},
    {"--help", nullptr, &ServerOptions::help, 0, 0, "this text (also -h)"},
};

// Port 0: the system picks a free one (the server prints it).
bool parseListen(const QString &text, QString *host, int *port)
{
    return parseHostPort(text, host, port, 0);
}

// Stores one option's value, or says why it cannot.
struct Apply
{
    const Option &option;
    const QString &text;
    ServerOptions &out;
    QString &error;

    bool operator()(QString ServerOptions::*m) { out.*m = text; return true; }
    bool operator()(QString HttpLimits::*m) { out.http.*m = text; return true; }
    bool operator()(bool ServerOptions::*m) { out.*m = true; return true; }
    bool operator()(bool HttpLimits::*m) { out.http.*m = true; return true; }
    bool operator()(int HttpLimits::*m)
    {
        bool ok = false;
        const int n = text.toInt(&ok);
        if (!ok || n < option.min || n > option.max) {
            error = QStringLiteral("%1 takes a number from %2 to %3")
                        .arg(QLatin1String(option.name))
                        .arg(option.min)
                        .arg(option.max);
            return false;
        }
        out.http.*m = n;
        return true;
    }
    bool operator()(double ServerOptions::*m)
    {
        bool ok = false;
        const double h = text.toDouble(&ok);
        if (!ok || !(h > option.min && h <= option.max)) { // written so that NaN fails too
            error = QStringLiteral("%1 takes a number of hours above 0").arg(QLatin1String(option.name));
            return false;
        }
        out.*m = h;
        return true;
    }
    bool operator()(ListenTarget)
    {
        if (parseListen(text, &out.listenHost, &out.listenPort))
            return true;
        error = QStringLiteral("--listen takes HOST:PORT");
        return false;
    }
    bool operator()(AdminListenTarget)
    {
        if (parseListen(text, &out.http.adminHost, &out.http.adminPort))
            return true;
        error = QStringLiteral("--admin-listen takes HOST:PORT");
        return false;
    }
};

// The range and default an option's help line ends with, if any.
struct Describe
{
    const Option &option;
    const ServerOptions &defaults;

    QString operator()(QString ServerOptions::*) const { return {}; }
    QString operator()(QString HttpLimits::*) const { return {}; }
    QString operator()(bool ServerOptions::*) const { return {}; }
    QString operator()(bool HttpLimits::*) const { return {}; }
    QString operator()(int HttpLimits::*m) const
    {
        return QStringLiteral("%1 to %2, default %3").arg(option.min).arg(option.max).arg(defaults.http.*m);
    }
    QString operator()(double ServerOptions::*m) const
    {
        return QStringLiteral("above 0, at most %1, default %2").arg(option.max).arg(defaults.*m);
    }
    QString operator()(ListenTarget) const
    {
        return QStringLiteral("default %1").arg(ServerOptions::addressText(defaults.listenHost, defaults.listenPort));
    }
    QString operator()(AdminListenTarget) const { return {}; }
};

QString usageText()
{
    const ServerOptions defaults;
    auto lead = [](const Option &o) {
        return o.value ? QStringLiteral("%1 %2").arg(QLatin1String(o.name), QLatin1String(o.value))
                       : QString::fromLatin1(o.name);
    };
    qsizetype width = 0;
    for (const Option &o : kOptions)
        width = std::max(width, lead(o).size());
    QString text = QStringLiteral("usage: vor01300-server --database DATABASE [option...]\n");
    for (const Option &o : kOptions) {
        const QString tail = std::visit(Describe{o, defaults}, o.target);
        text += QStringLiteral("  %1  %2%3\n")
                    .arg(lead(o).leftJustified(width), QLatin1String(o.help),
                         tail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(tail));
    }
    return text;
}

} // namespace

QString ServerOptions::addressText(const QString &host, int port)
{
    const QString name = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(name).arg(port);
}

bool ServerOptions::parse(const QStringList &arguments, QString *errorText, QString *helpText)
{
    if (helpText)
        *helpText = usageText();
    ServerOptions parsed;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString name = arguments[i] == QLatin1String("-h") ? QStringLiteral("--help") : arguments[i];
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                         [&](const Option &o) { return name == QLatin1String(o.name); });
        if (option == std::end(kOptions)) {
            *errorText = QStringLiteral("unknown option %1").arg(name);
            return false;
        }
        QString text;
        if (option->value) {
            if (i + 1 >= arguments.size()) {
                *errorText = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            text = arguments[++i];
        }
        if (!std::visit(Apply{*option, text, parsed, *errorText}, option->target))
            return false;
        if (parsed.help) { // whatever else is there, the user wants to read first
            *this = std::move(parsed);
            return true;
        }
    }
    if (parsed.database.isEmpty()) {
        *errorText = QStringLiteral("--database is required");
        return false;
    }
    if (!DatabaseConfig::parse(parsed.database, errorText))
        return false;
    if (parsed.http.tlsCert.isEmpty() != parsed.http.tlsKey.isEmpty()) {
        *errorText = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    *this = std::move(parsed);
    return true;
}

#pragma once

#include "Auth.h"
#include "HttpLimits.h"

#include <QString>
#include <QStringList>

// The server's command line.
struct ServerOptions
{
    QString database;                                 // --database: sqlite:PATH or postgresql://... (required)
    QString listenHost = QStringLiteral("127.0.0.1"); // --listen HOST:PORT; IPv6 without its brackets
    int listenPort = 8470;                            // 0: a free one
    QString importFile;                               // --import: a fixture loaded before serving
    bool demo = false;                                // --demo: an empty database gets the demo data
    HttpLimits http;                                  // --threads, --max-connections, --tls-cert...
    double sessionIdleHours = SessionStore::kIdleLimitMs / 3600000.0;
    double sessionLifetimeHours = SessionStore::kLifetimeMs / 3600000.0;
    bool help = false;                                // --help or -h: nothing else was looked at

    // Parses the arguments (argv[0] included). False with a sentence in
    // errorText when an option is malformed or --database is missing; the
    // usage goes to helpText either way. True with help set when asked for it.
    bool parse(const QStringList &arguments, QString *errorText, QString *helpText = nullptr);

    // "HOST:PORT", IPv6 as "[::1]:PORT", the way --listen reads it.
    static QString addressText(const QString &host, int port);
};

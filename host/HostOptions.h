#pragma once

#include <QString>
#include <QStringList>

// The host's command line.
struct HostOptions
{
    QString serverHost;      // from --server, else the remembered one, else 127.0.0.1
    int serverPort = 8470;
    bool serverTls = false;  // --server https://HOST:PORT
    bool serverGiven = false;
    QString caFile;          // --ca-file: the authority the server's certificate is checked against
    QString operatorCode;    // --operator: log in without the dialog
    QString password;        // --password, else --password-file, else VOR_PASSWORD
    bool passwordOnCommandLine = false; // --password: for tests only (every user can list it)
    bool operatorGiven = false;
    QString localDb;         // --local-db
    QString locale;          // --locale (empty: the system's)
    QString openScreen;      // --open VOR01300
    QString screenshot;      // --screenshot PATH
    QString typeKeys;        // --type KEYS: typed into the opened screen ("\t" is Tab)

    // Parses the arguments (argv[0] included). False with a sentence in
    // errorText when an option is malformed; helpText holds the usage.
    bool parse(const QStringList &arguments, QString *errorText, QString *helpText = nullptr);
};

// "HOST:PORT" (IPv6 as "[::1]:PORT"), optionally after "http://" or "https://"
// (tls tells which). False when the port is missing or out of range.
bool parseServerAddress(const QString &text, QString *host, int *port, bool *tls = nullptr);
// The address as parseServerAddress reads it back.
QString serverAddressText(const QString &host, int port, bool tls);

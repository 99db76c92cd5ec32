#pragma once

#include <QString>
#include <memory>

class ServerCore;

// How much the HTTP layer lets a client take. Every connection has a thread
// of its own that only reads and writes; at most `workers` requests run in the
// core at once. A connection that is slow, idle or stalled holds its own
// thread, never a worker (docs/operations.md says why).
struct HttpLimits
{
    int workers = 16;                  // threads running the core (each with its database connection)
    int loginWorkers = 1;              // threads for logins (a password check each)
    int maxConnections = 2048;         // open connections in all
    int maxPerAddress = 128;           // open connections from one client address
    int backlog = 1024;                // listen queue
    int headTimeoutSec = 10;           // a request's line, headers and first body bytes
    int minBytesPerSec = 8 * 1024;     // beyond that, each such amount buys one more second
    int idleTimeoutSec = 5;            // a kept-alive connection without a new request
    int maxRequestsPerConnection = 1000;
    QString tlsCert;                   // both set: HTTPS
    QString tlsKey;
};

// The thin HTTP/1.1 layer (cpp-httplib) around the byte-to-byte core.
// Responses are compressed when the client accepts it; a compressed request
// body is inflated as it arrives and refused the moment it passes the core's
// size limit.
class HttpServer final
{
public:
    HttpServer(ServerCore &core, const HttpLimits &limits);
    ~HttpServer();

    // False when the TLS certificate or key could not be loaded.
    bool isValid() const;
    // Binds; returns the port actually taken (port 0 picks a free one), -1 on failure.
    int bind(const QString &host, int port);
    // Serves until stop(); requests in progress finish first.
    bool serve();
    // Call once, from any thread, while isRunning().
    void stop();
    bool isRunning() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

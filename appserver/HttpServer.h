#pragma once

#include "HttpLimits.h"

#include <memory>

class ServerCore;

// The thin HTTP/1.1 adapter (Boost.Beast on Boost.Asio) around the core: it
// reads a request's head strictly and within fixed limits, asks the core what
// the request is and whether its body may be read, reads and inflates that
// body within the request's limit and a memory budget shared by all
// connections, runs the core on a bounded worker pool, and sends the reply
// (compressed when the client takes it) at no less than a minimum rate.
class HttpServer final
{
public:
    HttpServer(ServerCore &core, const HttpLimits &limits);
    ~HttpServer();

    // False when the TLS certificate or key could not be loaded.
    bool isValid() const;
    // Binds; returns the port actually taken (port 0 picks a free one), -1 on failure.
    int bind(const QString &host, int port);
    // A second address, plain HTTP, for /health and /metrics only (ServerCore
    // is told with CoreLimits::adminListener).
    int bindAdmin(const QString &host, int port);
    // Serves until stop(); requests in progress finish first.
    bool serve();
    // Call once, from any thread, while isRunning().
    void stop();
    bool isRunning() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

#pragma once

#include <QString>
#include <memory>

class ServerCore;

// The thin HTTP/1.1 layer (cpp-httplib, its own worker threads) around the
// byte-to-byte core. Responses are compressed when the client accepts it.
class HttpServer final
{
public:
    HttpServer(ServerCore &core, int threads);
    ~HttpServer();

    // Binds; returns the port actually taken (port 0 picks a free one), -1 on failure.
    int bind(const QString &host, int port);
    // Serves until stop(); requests in progress finish first.
    bool serve();
    // Call once, from any thread, while isRunning().
    void stop();
    bool isRunning() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

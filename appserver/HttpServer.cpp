#include "HttpServer.h"

#include "ServerCore.h"

#include <httplib.h>

struct HttpServer::Impl
{
    httplib::Server server;
};

HttpServer::HttpServer(ServerCore &core, int threads) : d(std::make_unique<Impl>())
{
    d->server.new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    d->server.set_payload_max_length(size_t(ServerCore::kMaxBody));
    // An idle keep-alive connection holds a worker and delays a stop by up to this long.
    d->server.set_keep_alive_timeout(5);
    d->server.set_keep_alive_max_count(100);

    auto handler = [&core](const httplib::Request &req, httplib::Response &res) {
        CoreRequest request;
        request.method = QByteArray::fromStdString(req.method);
        request.path = QByteArray::fromStdString(req.path);
        request.authorization = QByteArray::fromStdString(req.get_header_value("Authorization"));
        request.body = QByteArray::fromStdString(req.body);
        const CoreResponse response = core.handle(request);
        res.status = response.status;
        if (!response.body.isEmpty())
            res.set_content(response.body.toStdString(), response.contentType.toStdString());
    };
    d->server.Post(".*", handler);
    d->server.Delete(".*", handler);
    d->server.Get(".*", handler);
    d->server.Put(".*", handler);

    // The library's own refusals (body too large, bad request line) get a JSON body too.
    d->server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty())
            return;
        const char *text = res.status == 413 ? "A requisição excede o tamanho máximo de 16 MiB."
                                             : "Requisição HTTP inválida.";
        res.set_content(std::string("{\"error\":\"") + text + "\"}", "application/json");
    });
}

HttpServer::~HttpServer() = default;

int HttpServer::bind(const QString &host, int port)
{
    const std::string h = host.toStdString();
    if (port == 0)
        return d->server.bind_to_any_port(h);
    return d->server.bind_to_port(h, port) ? port : -1;
}

bool HttpServer::serve()
{
    return d->server.listen_after_bind();
}

void HttpServer::stop()
{
    d->server.stop();
}

bool HttpServer::isRunning() const
{
    return d->server.is_running();
}

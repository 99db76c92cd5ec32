#include "HttpClient.h"

#include <httplib.h>

HttpResult httpRequest(int port, const char *method, const char *path, const QByteArray &body,
                       const QByteArray &token, bool acceptGzip)
{
    httplib::Client c("127.0.0.1", port);
    c.set_decompress(false);
    c.set_read_timeout(120, 0);
    httplib::Headers headers;
    if (!token.isEmpty())
        headers.emplace("Authorization", "Bearer " + token.toStdString());
    if (acceptGzip)
        headers.emplace("Accept-Encoding", "gzip");
    const std::string content = body.toStdString();
    httplib::Result res = std::string(method) == "DELETE"
                              ? c.Delete(path, headers, content, "application/json")
                              : c.Post(path, headers, content, "application/json");
    HttpResult r;
    if (!res)
        return r;
    r.ok = true;
    r.status = res->status;
    r.body = QByteArray::fromStdString(res->body);
    r.contentEncoding = QByteArray::fromStdString(res->get_header_value("Content-Encoding"));
    return r;
}

#include "HttpClient.h"

#include <httplib.h>

#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

HttpResult httpRequest(int port, const char *method, const char *path, const QByteArray &body,
                       const QByteArray &token, bool acceptGzip, int timeoutSec)
{
    httplib::Client c("127.0.0.1", port);
    c.set_decompress(false);
    c.set_read_timeout(timeoutSec, 0);
    c.set_connection_timeout(timeoutSec, 0);
    httplib::Headers headers;
    if (!token.isEmpty())
        headers.emplace("Authorization", "Bearer " + token.toStdString());
    if (acceptGzip)
        headers.emplace("Accept-Encoding", "gzip");
    const std::string content = body.toStdString();
    const std::string verb = method;
    httplib::Result res = verb == "GET"      ? c.Get(path, headers)
                          : verb == "DELETE" ? c.Delete(path, headers, content, "application/json")
                                             : c.Post(path, headers, content, "application/json");
    HttpResult r;
    if (!res)
        return r;
    r.ok = true;
    r.status = res->status;
    r.body = QByteArray::fromStdString(res->body);
    r.contentEncoding = QByteArray::fromStdString(res->get_header_value("Content-Encoding"));
    r.retryAfter = QByteArray::fromStdString(res->get_header_value("Retry-After"));
    return r;
}

int rawConnect(int port, const char *from, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(quint16(port));
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool rawSend(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray rawReadAll(int fd, int timeoutMs)
{
    QByteArray out;
    char buf[16384];
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

QByteArray rawPeek(int fd)
{
    char buf[512];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_PEEK);
    return n > 0 ? QByteArray(buf, n) : QByteArray();
}

bool rawClosedByPeer(int fd)
{
    char buf[4096];
    while (true) { // whatever the server said before closing is read past
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            continue;
        return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
}

void rawClose(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

QByteArray rawRequest(const char *method, const char *path, const QByteArray &body, const QByteArray &extraHeaders)
{
    return QByteArray(method) + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
           + "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

qint64 processMemoryKiB(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(QByteArray(QByteArray(field) + ":")))
            return line.mid(qsizetype(qstrlen(field)) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

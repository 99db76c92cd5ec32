#pragma once

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

// A tiny HTTP/1.1 server on 127.0.0.1 for the connection tests: it records
// each request and answers with what the test's handler returns. It runs in
// the test's thread, so it answers while a call waits in its local loop.
class FakeHttpServer : public QTcpServer
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;
    };
    struct Response
    {
        Response(int status_ = 200, QByteArray body_ = {}, QByteArray contentType_ = "application/json")
            : status(status_), body(std::move(body_)), contentType(std::move(contentType_)) {}
        int status;
        QByteArray body;
        QByteArray contentType;
        QByteArray extraHeaders; // whole lines, each ending in CRLF
        int delayMs = 0;      // answer later (timers keep running during a call)
        bool never = false;   // keep the socket open, never answer
        int pieceMs = 0;      // send the answer in 10 pieces, one every pieceMs
    };
    using Handler = std::function<Response(const Request &)>;

    explicit FakeHttpServer(Handler handler)
        : m_handler(std::move(handler))
    {
        connect(this, &QTcpServer::newConnection, this, &FakeHttpServer::acceptAll);
        listen(QHostAddress::LocalHost, 0);
    }

    QList<Request> requests;

private:
    void acceptAll()
    {
        while (QTcpSocket *socket = nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        }
    }

    void readFrom(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            Request request;
            const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.path = first.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines.at(i).indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                           lines.at(i).mid(colon + 1).trimmed());
            }
            const qsizetype length = request.headers.value("content-length", "0").toLongLong();
            if (buffer.size() < headerEnd + 4 + length)
                return;
            request.body = buffer.mid(headerEnd + 4, length);
            buffer.remove(0, headerEnd + 4 + length);
            requests.append(request);
            const Response response = m_handler(request);
            if (response.never)
                continue;
            const QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n"
                                     "Content-Type: " + response.contentType + "\r\n"
                                     "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n"
                                     + response.extraHeaders + "\r\n" + response.body;
            QPointer<QTcpSocket> target(socket);
            if (response.pieceMs > 0) {
                const qsizetype piece = bytes.size() / 10 + 1;
                for (int i = 0; i < 10; ++i)
                    QTimer::singleShot(response.pieceMs * i, this, [target, part = bytes.mid(i * piece, piece)] {
                        if (target)
                            target->write(part);
                    });
            } else if (response.delayMs > 0) {
                QTimer::singleShot(response.delayMs, this, [target, bytes] {
                    if (target)
                        target->write(bytes);
                });
            } else {
                socket->write(bytes);
            }
        }
    }

    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

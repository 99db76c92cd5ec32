#pragma once

// A small blocking HTTP client for the tests (kept out of the moc'ed file).
#include <QByteArray>

struct HttpResult
{
    bool ok = false; // false: no answer at all
    int status = 0;
    QByteArray body; // as received (not decompressed)
    QByteArray contentEncoding;
    QByteArray retryAfter;
};

HttpResult httpRequest(int port, const char *method, const char *path, const QByteArray &body,
                       const QByteArray &token = {}, bool acceptGzip = false, int timeoutSec = 120);

// Plain sockets, for clients that misbehave on purpose. `from` picks the
// loopback address the connection comes from (any of 127.0.0.0/8); a
// receiveBuffer > 0 makes a client that takes bytes slowly.
int rawConnect(int port, const char *from = "127.0.0.1", int receiveBuffer = 0);
bool rawSend(int fd, const QByteArray &bytes);
// Reads until the server closes or timeoutMs passes without data.
QByteArray rawReadAll(int fd, int timeoutMs);
// What has arrived so far, left unread (no waiting).
QByteArray rawPeek(int fd);
// True once the server has closed its side (no waiting); reads what came before.
bool rawClosedByPeer(int fd);
void rawClose(int fd);
// A full request with its head; `extraHeaders` end with \r\n each.
QByteArray rawRequest(const char *method, const char *path, const QByteArray &body, const QByteArray &extraHeaders = {});
// The server's resident and peak memory in KiB, from /proc.
qint64 processMemoryKiB(qint64 pid, const char *field);

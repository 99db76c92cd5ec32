#pragma once

// A small blocking HTTP client for the tests (kept out of the moc'ed file).
#include <QByteArray>

struct HttpResult
{
    bool ok = false; // false: no answer at all
    int status = 0;
    QByteArray body; // as received (not decompressed)
    QByteArray contentEncoding;
};

HttpResult httpRequest(int port, const char *method, const char *path, const QByteArray &body,
                       const QByteArray &token = {}, bool acceptGzip = false);

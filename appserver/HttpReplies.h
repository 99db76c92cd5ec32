#pragma once

#include <QByteArray>

// The refusals the server gives before or instead of running a request, in
// one table shared by the core and the HTTP layer: the same case always gets
// the same status and sentence, whichever layer notices it.
enum class HttpRefusal {
    BadRequest,           // 400: malformed request line, headers or chunks
    BadLength,            // 400: Content-Length not a single decimal number
    BothLengths,          // 400: Content-Length and Transfer-Encoding together
    BadTransferCoding,    // 400: a transfer coding other than one "chunked"
    MissingHost,          // 400
    BadBody,              // 400: the body could not be read or inflated
    NotFound,             // 404
    MethodNotAllowed,     // 405
    LengthRequired,       // 411: a POST with neither length nor chunks
    TooLarge,             // 413: body over the 16 MiB limit (after inflation)
    LoginTooLarge,        // 413: a login or logout body over its few KiB
    UnsupportedEncoding,  // 415: Content-Encoding other than gzip, deflate, identity
    HeadTooLarge,         // 431
    Busy,                 // 503 + Retry-After: no room for the connection or the request
};

struct HttpRefusalReply
{
    int status;
    const char *text;     // Portuguese, shown to users as it is
    int retryAfterSec;    // 0: no Retry-After
};

HttpRefusalReply httpRefusal(HttpRefusal which);
// {"error":"<text>"}, as every non-JSON-RPC refusal of this server.
QByteArray httpRefusalBody(HttpRefusal which);
// The reply when a request's handling failed unexpectedly: a JSON-RPC
// internal error with a null id, sent with HTTP 500.
QByteArray internalErrorBody();

#pragma once

#include "HttpReplies.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A request's line and headers, read strictly (RFC 9112): every line ends in
// CRLF, no bare CR or LF, no folded lines, no whitespace before a colon, one
// Host, at most one framing of the body (a single decimal Content-Length or a
// single "chunked" Transfer-Encoding), and a length on every POST. Anything
// else is refused, and the connection is closed after the refusal, as where
// the body ends can no longer be trusted.
struct RequestHead
{
    std::string method;
    std::string target;
    int minorVersion = 1;
    std::optional<std::uint64_t> contentLength; // UINT64_MAX: too large to count
    bool chunked = false;
    bool keepAlive = true;        // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only with keep-alive
    bool expectContinue = false;
    std::string authorization;
    std::string acceptEncoding;
    std::string contentEncoding;
    std::string ifNoneMatch;      // If-None-Match, all lines joined
    std::string inject;           // X-Vor-Inject (honoured only when the server allows it)
    std::string forwardedFor;     // X-Forwarded-For, all lines joined (believed only from a trusted proxy)

    bool hasBody() const { return chunked || (contentLength && *contentLength > 0); }
    // The client's address: the connection's peer, or, when that peer is a
    // trusted proxy, the address the proxy appended to X-Forwarded-For.
    std::string clientAddress(const std::string &peer, const std::vector<std::string> &trustedProxies) const;

    // `head` runs from the request line to the blank line, CRLFCRLF included.
    // The refusal when the head is not acceptable.
    static std::optional<HttpRefusal> parse(std::string_view head, RequestHead &out);
};

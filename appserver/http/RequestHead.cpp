#include "RequestHead.h"

#include "HttpText.h"

#include <algorithm>


namespace {

bool isTchar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
        return true;
    default:
        return false;
    }
}

using HttpText::same;
using HttpText::trim;

// Whether a comma-separated header value lists `token`.
bool lists(std::string_view value, std::string_view token)
{
    while (true) {
        const std::size_t comma = value.find(',');
        if (same(trim(value.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            return false;
        value.remove_prefix(comma + 1);
    }
}

} // namespace

std::string RequestHead::clientAddress(const std::string &peer, const std::vector<std::string> &trustedProxies) const
{
    if (forwardedFor.empty() || std::find(trustedProxies.begin(), trustedProxies.end(), peer) == trustedProxies.end())
        return peer;
    // The proxy appends the address it saw last: earlier ones are the client's own word.
    const std::size_t comma = forwardedFor.rfind(',');
    const std::string_view last = trim(std::string_view(forwardedFor).substr(comma == std::string::npos ? 0 : comma + 1));
    return last.empty() ? peer : std::string(last);
}

std::optional<HttpRefusal> RequestHead::parse(std::string_view head, RequestHead &out)
{
    out = RequestHead();
    if (head.size() < 4 || head.substr(head.size() - 4) != "\r\n\r\n")
        return HttpRefusal::BadRequest;
    // CR only before LF, LF only after CR, no NUL or other controls but tab.
    for (std::size_t i = 0; i < head.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(head[i]);
        if (c == '\r' && (i + 1 >= head.size() || head[i + 1] != '\n'))
            return HttpRefusal::BadRequest;
        if (c == '\n' && (i == 0 || head[i - 1] != '\r'))
            return HttpRefusal::BadRequest;
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c == 0x7f)
            return HttpRefusal::BadRequest;
    }
    std::size_t at = head.find("\r\n");
    const std::string_view line = head.substr(0, at);
    // method SP request-target SP HTTP/1.x
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp1 == 0 || sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos)
        return HttpRefusal::BadRequest;
    const std::string_view method = line.substr(0, sp1), target = line.substr(sp1 + 1, sp2 - sp1 - 1),
                           version = line.substr(sp2 + 1);
    for (char c : method)
        if (!isTchar(c))
            return HttpRefusal::BadRequest;
    if (target.empty() || target.front() != '/' || target.find_first_of(" \t") != std::string_view::npos)
        return HttpRefusal::BadRequest;
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return HttpRefusal::BadRequest;
    out.method = std::string(method);
    out.target = std::string(target);
    out.minorVersion = version.back() - '0';

    int hosts = 0, lengths = 0, codings = 0;
    bool close = false, keepAlive = false;
    std::string_view length, coding;
    for (at += 2; at + 2 < head.size();) {
        const std::size_t end = head.find("\r\n", at);
        const std::string_view field = head.substr(at, end - at);
        at = end + 2;
        if (field.front() == ' ' || field.front() == '\t')
            return HttpRefusal::BadRequest; // folded onto the line before
        const std::size_t colon = field.find(':');
        if (colon == 0 || colon == std::string_view::npos)
            return HttpRefusal::BadRequest;
        const std::string_view name = field.substr(0, colon), value = trim(field.substr(colon + 1));
        for (char c : name)
            if (!isTchar(c))
                return HttpRefusal::BadRequest; // whitespace before the colon among others
        if (same(name, "Host")) {
            ++hosts;
        } else if (same(name, "Content-Length")) {
            ++lengths;
            length = value;
        } else if (same(name, "Transfer-Encoding")) {
            ++codings;
            coding = value;
        } else if (same(name, "Connection")) {
            close = close || lists(value, "close");
            keepAlive = keepAlive || lists(value, "keep-alive");
        } else if (same(name, "Expect")) {
            if (!same(value, "100-continue"))
                return HttpRefusal::BadRequest;
            out.expectContinue = true;
        } else if (same(name, "Authorization")) {
            out.authorization = std::string(value);
        } else if (same(name, "Accept-Encoding")) {
            out.acceptEncoding = out.acceptEncoding.empty() ? std::string(value) : out.acceptEncoding + "," + std::string(value);
        } else if (same(name, "Content-Encoding")) {
            if (!out.contentEncoding.empty())
                return HttpRefusal::UnsupportedEncoding; // codings stacked over several lines
            out.contentEncoding = std::string(value);
        } else if (same(name, "X-Forwarded-For")) {
            out.forwardedFor = out.forwardedFor.empty() ? std::string(value) : out.forwardedFor + "," + std::string(value);
        } else if (same(name, "If-None-Match")) {
            out.ifNoneMatch = out.ifNoneMatch.empty() ? std::string(value) : out.ifNoneMatch + "," + std::string(value);
        } else if (same(name, "X-Vor-Inject")) {
            out.inject = std::string(value);
        }
    }
    if (hosts != 1 && (out.minorVersion == 1 || hosts > 1))
        return HttpRefusal::MissingHost;
    if (lengths > 0 && codings > 0)
        return HttpRefusal::BothLengths;
    if (codings > 1 || (codings == 1 && !same(coding, "chunked")))
        return HttpRefusal::BadTransferCoding;
    if (codings == 1 && out.minorVersion == 0)
        return HttpRefusal::BadTransferCoding;
    if (lengths > 1 || (lengths == 1 && (length.empty() || length.find_first_not_of("0123456789") != std::string_view::npos)))
        return HttpRefusal::BadLength;
    out.chunked = codings == 1;
    if (lengths == 1) {
        std::uint64_t n = 0;
        for (char c : length) {
            if (n > (UINT64_MAX - 9) / 10) {
                n = UINT64_MAX;
                break;
            }
            n = n * 10 + std::uint64_t(c - '0');
        }
        out.contentLength = n;
    }
    if (out.method == "POST" && !out.chunked && !out.contentLength)
        return HttpRefusal::LengthRequired;
    out.keepAlive = out.minorVersion == 1 ? !close : (keepAlive && !close);
    return std::nullopt;
}

#include "HttpServer.h"

#include "HttpReplies.h"
#include "ServerCore.h"
#include "http/ConnectionTable.h"
#include "http/HttpCompression.h"
#include "http/HttpMetrics.h"
#include "http/RateMeter.h"
#include "http/RequestHead.h"
#include "http/WorkerPool.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using Phase = ConnectionTable::Phase;
using error_code = boost::system::error_code;

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
constexpr std::size_t kLargeReply = 4 * 1024 * 1024;
constexpr qsizetype kSmallReply = 256 * 1024; // always sent, whatever the replies' budget
constexpr std::size_t kDrainLimit = 16 * 1024 * 1024;

// A reply ready to go out.
struct Reply
{
    int status = 200;
    QByteArray body;   // sent first...
    QByteArray middle; // ...then this (a cached answer's payload, shared, never copied)...
    QByteArray tail;   // ...then this
    QByteArray contentType = "application/json";
    const char *coding = nullptr; // Content-Encoding, when compressed
    int retryAfterSec = 0;
    QByteArray etag;
    bool close = false; // the connection ends after it
    bool drain = false; // ...reading what the client still sends first (its body was not read)

    qsizetype size() const { return body.size() + middle.size() + tail.size(); }
};

Reply fromCore(CoreResponse response, std::string_view acceptEncoding)
{
    Reply r;
    r.status = response.status;
    r.retryAfterSec = response.retryAfterSec;
    r.etag = std::move(response.etag);
    r.contentType = response.contentType;
    r.body = std::move(response.body);
    if (response.answer) {
        const QByteArray &payload = response.answer->payload;
        const auto coding = HttpCompression::choose(
            acceptEncoding, std::size_t(r.body.size() + payload.size() + response.tail.size()));
        if (coding == HttpCompression::Coding::Identity) {
            r.middle = payload;
            r.tail = std::move(response.tail);
            return r;
        }
        if (coding == HttpCompression::Coding::Zstd) {
            // The payload is packed once per answer; the reply's own short
            // head and tail go as frames of their own around it.
            const QByteArray packed = response.answer->packedOnce(
                [](const QByteArray &plain) { return HttpCompression::zstdFrame(plain); });
            const QByteArray head = HttpCompression::zstdFrame(r.body), tail = HttpCompression::zstdFrame(response.tail);
            if (!packed.isEmpty() && !head.isEmpty() && !tail.isEmpty()) {
                r.body = head;
                r.middle = packed;
                r.tail = tail;
                r.coding = HttpCompression::name(coding);
                return r;
            }
        }
        r.body = r.body + payload + response.tail;
    }
    const auto coding = HttpCompression::choose(acceptEncoding, std::size_t(r.body.size()));
    if (coding != HttpCompression::Coding::Identity) {
        QByteArray packed;
        if (HttpCompression::compress(coding, r.body, packed)) {
            r.body.swap(packed);
            r.coding = HttpCompression::name(coding);
        }
    }
    return r;
}

Reply refusalReply(HttpRefusal which, bool unreadBody)
{
    Reply r = fromCore(ServerCore::refusal(which), {});
    r.close = true;
    r.drain = unreadBody;
    return r;
}

} // namespace

struct HttpServer::Impl
{
    Impl(ServerCore &c, const HttpLimits &l)
        : core(c), limits(l), table(l.maxConnections, l.maxPerAddress),
          bodies(std::int64_t(l.bodyMemoryMiB) * 1024 * 1024), replies(std::int64_t(l.replyMemoryMiB) * 1024 * 1024),
          acceptStrand(net::make_strand(ioc)),
          acceptor(acceptStrand), adminAcceptor(acceptStrand), workers(std::make_unique<WorkerPool>(l.workers, std::size_t(std::max(1, l.maxQueued)))),
          loginWorkers(std::make_unique<WorkerPool>(l.loginWorkers, std::size_t(std::max(1, l.maxQueued))))
    {
        if (limits.ioThreads <= 0)
            limits.ioThreads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
        for (const QString &a : limits.trustedProxies.split(QLatin1Char(','), Qt::SkipEmptyParts))
            trustedProxies.push_back(a.trimmed().toStdString());
    }

    void accept(tcp::acceptor &on, bool admin);
    void onAccepted(tcp::socket socket, bool admin);
    template <class Stream>
    void startConnection(Stream stream, const std::string &address, bool admin);
    bool trusted(const std::string &address) const
    {
        return std::find(trustedProxies.begin(), trustedProxies.end(), address) != trustedProxies.end();
    }

    // Lines of the HTTP layer itself (faults), at most a few a second.
    void logFault(const std::string &what)
    {
        qint64 dropped = 0;
        {
            std::lock_guard lock(logMutex);
            const auto now = Clock::now();
            if (now - logSecond >= std::chrono::seconds(1)) {
                logSecond = now;
                logCount = 0;
            }
            if (++logCount > 20) {
                ++logSuppressed;
                return;
            }
            dropped = std::exchange(logSuppressed, 0);
        }
        QJsonObject line{{QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                         {QStringLiteral("internalError"), ServerCore::cut(QString::fromStdString(what), 500)},
                         {QStringLiteral("where"), QStringLiteral("worker")}};
        if (dropped > 0)
            line.insert(QStringLiteral("suppressed"), dropped);
        writeLogLineToStderr(QJsonDocument(line).toJson(QJsonDocument::Compact));
    }

    // Freed memory goes back to the system after a large reply, at most a few times a second.
    void afterLargeReply()
    {
        {
            std::lock_guard lock(trimMutex);
            const auto now = Clock::now();
            if (now - lastTrim < std::chrono::milliseconds(200))
                return;
            lastTrim = now;
        }
        ::malloc_trim(0);
    }

    // Declared in the order that lets handlers still queued at destruction
    // (they hold connections) go before the table and budget they update.
    ServerCore &core;
    HttpLimits limits;
    bool valid = true;
    std::vector<std::string> trustedProxies;
    ConnectionTable table;
    MemoryBudget bodies;
    MemoryBudget replies;
    HttpMetrics metrics;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    std::mutex trimMutex;
    Clock::time_point lastTrim;
    std::mutex logMutex;
    Clock::time_point logSecond;
    int logCount = 0;
    qint64 logSuppressed = 0;
    std::optional<net::ssl::context> tls;
    net::io_context ioc;
    net::strand<net::io_context::executor_type> acceptStrand;
    tcp::acceptor acceptor;
    tcp::acceptor adminAcceptor; // /health and /metrics, when they have an address of their own
    std::unique_ptr<WorkerPool> workers;      // every request but logins
    std::unique_ptr<WorkerPool> loginWorkers; // logins: a password check each, on threads of their own
};

namespace {

template <class Stream>
constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

// One client connection, driven on its own strand: requests are read, run
// and answered one after another (pipelined requests wait their turn).
template <class Stream>
class Connection final : public std::enable_shared_from_this<Connection<Stream>>
{
public:
    Connection(HttpServer::Impl &server, Stream stream, std::string address, bool admin)
        : m_s(server), m_stream(std::move(stream)), m_address(std::move(address)), m_admin(admin), m_lease(server.bodies),
          m_replyLease(server.replies),
          m_meter(server.limits.minBytesPerSec, server.limits.rateWindowSec)
    {
    }
    ~Connection() { m_s.table.release(m_id); }

    net::any_io_executor executor() { return m_stream.get_executor(); }

    void start(std::uint64_t id)
    {
        m_id = id;
        net::post(executor(), [self = this->shared_from_this()] { self->handshake(); });
    }

    // A full server: a plain connection is told so; a TLS one is just closed.
    void turnAway()
    {
        net::post(executor(), [self = this->shared_from_this()] {
            if constexpr (kTls<Stream>) {
                self->finish();
            } else {
                Reply r = refusalReply(HttpRefusal::Busy, false);
                self->m_lingerMs = 100; // briefly: a flood of these must not pile up
                r.drain = true;
                self->send(std::move(r), false);
            }
        });
    }

    // Called on the strand when the table chose this connection to make room.
    void abort()
    {
        m_aborted = true;
        error_code ec;
        tcp().socket().close(ec);
    }

private:
    beast::tcp_stream &tcp() { return beast::get_lowest_layer(m_stream); }
    std::shared_ptr<Connection> self() { return this->shared_from_this(); }
    const HttpLimits &limits() const { return m_s.limits; }

    void setPhase(Phase phase) { m_s.table.setPhase(m_id, phase, Clock::now()); }

    // Acknowledged at once, not after the delayed-acknowledgement timer: a
    // client that sends its head and body as two small writes (Nagle) would
    // otherwise wait about 40 ms for the second.
    void quickAck()
    {
        const int one = 1;
        ::setsockopt(tcp().socket().native_handle(), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }

    void finish()
    {
        m_aborted = true;
        error_code ec;
        tcp().socket().shutdown(tcp::socket::shutdown_both, ec);
        tcp().socket().close(ec);
    }

    void handshake()
    {
        if (m_aborted)
            return finish();
        if constexpr (kTls<Stream>) {
            tcp().expires_after(std::chrono::seconds(limits().headTimeoutSec));
            m_stream.async_handshake(net::ssl::stream_base::server, [self = self()](error_code ec) {
                if (ec)
                    return self->finish();
                self->nextRequest();
            });
        } else {
            nextRequest();
        }
    }

    // ---- the head --------------------------------------------------------
    void nextRequest()
    {
        if (m_aborted)
            return finish();
        if (m_s.stopping)
            return closeCleanly();
        setPhase(Phase::Idle);
        m_scanned = 0;
        if (m_buffer.size() > 0)
            return beginHead();
        tcp().expires_after(std::chrono::seconds(limits().idleTimeoutSec));
        m_stream.async_read_some(m_buffer.prepare(kReadChunk), [self = self()](error_code ec, std::size_t n) {
            self->m_buffer.commit(n);
            if (ec || self->m_aborted)
                return self->finish();
            self->beginHead();
        });
    }

    void beginHead()
    {
        m_requestStart = Clock::now();
        setPhase(Phase::Head);
        quickAck();
        // One deadline for the whole head, from its first byte: sending more never buys time.
        tcp().expires_at(Clock::now() + std::chrono::seconds(limits().headTimeoutSec));
        readHead();
    }

    std::string_view buffered() const
    {
        return {static_cast<const char *>(m_buffer.data().data()), m_buffer.size()};
    }

    void readHead()
    {
        const std::string_view data = buffered();
        const std::size_t end = data.find("\r\n\r\n", m_scanned >= 3 ? m_scanned - 3 : 0);
        if (end != std::string_view::npos)
            return onHead(end + 4);
        m_scanned = data.size();
        const std::size_t max = std::size_t(limits().maxHeadBytes);
        if (data.size() >= max)
            return send(refusalReply(HttpRefusal::HeadTooLarge, true), false);
        m_stream.async_read_some(m_buffer.prepare(std::min(kReadChunk, max - data.size())),
                                 [self = self()](error_code ec, std::size_t n) {
                                     self->m_buffer.commit(n);
                                     if (ec || self->m_aborted)
                                         return self->finish();
                                     self->quickAck();
                                     self->readHead();
                                 });
    }

    void onHead(std::size_t headLength)
    {
        const std::string_view head = buffered().substr(0, headLength);
        if (const auto refused = RequestHead::parse(head, m_head))
            return send(refusalReply(*refused, true), false);
        const bool body = m_head.hasBody();
        if (m_head.method != "GET" && m_head.method != "POST" && m_head.method != "DELETE" && m_head.method != "PUT")
            return send(refusalReply(HttpRefusal::MethodNotAllowed, body), false);

        CoreHead core;
        core.method = QByteArray::fromStdString(m_head.method);
        m_path = QByteArray::fromStdString(m_head.target.substr(0, m_head.target.find('?')));
        core.path = m_path;
        core.authorization = QByteArray::fromStdString(m_head.authorization);
        m_client = m_head.clientAddress(m_address, m_s.trustedProxies);
        core.peer = QByteArray::fromStdString(m_client);
        core.admin = m_admin;
        m_admission = m_s.core.admit(core);
        if (m_admission.refusal) {
            Reply r = fromCore(std::move(*m_admission.refusal), m_head.acceptEncoding);
            r.close = body;
            r.drain = body;
            return send(std::move(r), !body); // without a body, the request was read whole
        }
        if (!HttpCompression::isReadable(m_head.contentEncoding))
            return send(refusalReply(HttpRefusal::UnsupportedEncoding, body), false);
        if (m_head.contentLength && *m_head.contentLength > std::uint64_t(m_admission.maxBody))
            return send(refusalReply(m_admission.tooLarge, true), false);

        // The library reads the body's framing (lengths, chunks) from here on.
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(headLength + 1));
        m_parser->body_limit(std::uint64_t(m_admission.maxBody));
        error_code ec;
        const std::size_t used = m_parser->put(net::buffer(head.data(), head.size()), ec);
        if (ec || used != headLength || !m_parser->is_header_done())
            return send(refusalReply(HttpRefusal::BadRequest, true), false);
        m_buffer.consume(headLength);
        if (m_head.contentLength) {
            if (!m_lease.change(std::int64_t(*m_head.contentLength)))
                return send(refusalReply(HttpRefusal::Busy, true), false);
            m_parser->get().body().reserve(std::size_t(*m_head.contentLength));
        }
        if (m_head.expectContinue && !m_parser->is_done()) {
            static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            net::async_write(m_stream, net::buffer(kContinue), [self = self()](error_code ec, std::size_t) {
                if (ec || self->m_aborted)
                    return self->finish();
                self->beginBody();
            });
            return;
        }
        beginBody();
    }

    // ---- the body --------------------------------------------------------
    void beginBody()
    {
        setPhase(Phase::Body);
        m_meter.start(Clock::now());
        readBody();
    }

    void readBody()
    {
        if (m_parser->is_done())
            return dispatch();
        tcp().expires_after(std::chrono::seconds(limits().rateWindowSec));
        http::async_read_some(m_stream, m_buffer, *m_parser, [self = self()](error_code ec, std::size_t n) {
            if (self->m_aborted)
                return self->finish();
            if (ec == http::error::body_limit)
                return self->send(refusalReply(self->m_admission.tooLarge, true), false);
            if (ec == beast::error::timeout || ec == net::error::eof || ec == http::error::partial_message
                || ec == net::error::connection_reset || ec == net::error::operation_aborted)
                return self->finish();
            if (ec)
                return self->send(refusalReply(HttpRefusal::BadRequest, true), false);
            const auto now = Clock::now();
            // Chunked bodies take their memory as they grow.
            const std::int64_t size = std::int64_t(self->m_parser->get().body().size());
            if (size > self->m_lease.held() && !self->m_lease.change(size - self->m_lease.held()))
                return self->send(refusalReply(HttpRefusal::Busy, true), false);
            self->m_meter.add(std::int64_t(n), now);
            if (self->m_meter.tooSlow(now))
                return self->finish();
            self->readBody();
        });
    }

    // ---- the core --------------------------------------------------------
    struct Work
    {
        Work(MemoryBudget &bodies, MemoryBudget &replies) : lease(bodies), replyLease(replies) {}
        std::string body;
        MemoryLease lease;
        MemoryLease replyLease;
        CoreRequest request;
        RequestHead head;
        qsizetype maxBody = 0;
        HttpRefusal tooLarge = HttpRefusal::TooLarge;
        CoreRoute route = CoreRoute::Refused;
        std::optional<net::executor_work_guard<net::io_context::executor_type>> guard;
    };

    void dispatch()
    {
        setPhase(Phase::Working);
        tcp().expires_never();
        auto work = std::make_shared<Work>(m_s.bodies, m_s.replies);
        work->body = std::move(m_parser->get().body());
        m_parser.reset();
        work->lease.takeOver(m_lease); // the memory moves with the body
        work->request.method = QByteArray::fromStdString(m_head.method);
        work->request.path = m_path; // the target without its query, as admitted
        work->request.authorization = QByteArray::fromStdString(m_head.authorization);
        work->request.ifNoneMatch = QByteArray::fromStdString(m_head.ifNoneMatch);
        work->request.pieces = true;
        work->request.peer = QByteArray::fromStdString(m_client);
        work->route = m_admission.route;
        work->head = m_head;
        work->maxBody = m_admission.maxBody;
        work->tooLarge = m_admission.tooLarge;
        work->guard.emplace(m_s.ioc.get_executor()); // serving ends only after the reply
        HttpServer::Impl &server = m_s;
        const bool injecting = limits().injectFaults;

        auto job = [self = self(), work, &server, injecting] {
            if (injecting && work->head.inject == "throw")
                throw std::runtime_error("injected fault");
            if (injecting && work->head.inject.rfind("delay=", 0) == 0) {
                const int ms = std::clamp(std::atoi(work->head.inject.c_str() + 6), 0, 10000);
                writeLogLineToStderr(QByteArray(R"({"inject":"delay","ms":)") + QByteArray::number(ms) + "}");
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            }
            QByteArray body;
            const auto inflated = HttpCompression::inflate(work->head.contentEncoding, work->body,
                                                           std::size_t(work->maxBody), body,
                                                           [&work](long long n) { return work->lease.change(n); });
            std::string().swap(work->body);
            Reply reply;
            if (inflated == HttpCompression::Inflated::Ok) {
                work->request.body = std::move(body);
                CoreResponse response = server.core.handle(work->request);
                if (work->route == CoreRoute::Metrics)
                    response.body += QByteArray::fromStdString(server.metrics.text(
                        {server.table.open(), server.workers->queued(),
                         std::int64_t(server.limits.bodyMemoryMiB) * 1024 * 1024 - server.bodies.left(),
                         std::int64_t(server.limits.replyMemoryMiB) * 1024 * 1024 - server.replies.left()}));
                reply = fromCore(std::move(response), work->head.acceptEncoding);
                // Large replies not yet taken by their clients share a bound:
                // beyond it a large one is dropped at once instead of held.
                if (reply.size() > kSmallReply && !work->replyLease.change(std::int64_t(reply.size())))
                    reply = refusalReply(HttpRefusal::Busy, false);
            } else {
                reply = refusalReply(inflated == HttpCompression::Inflated::TooLarge ? work->tooLarge
                                     : inflated == HttpCompression::Inflated::NoMemory ? HttpRefusal::Busy
                                                                                        : HttpRefusal::BadBody,
                                     false);
            }
            work->request = CoreRequest();
            work->lease.reset();
            reply.close = false; // the request was read whole
            net::post(self->executor(), [self, work, reply = std::move(reply)]() mutable {
                self->m_replyLease.takeOver(work->replyLease);
                self->send(std::move(reply), true);
                work->guard.reset();
            });
        };
        auto fault = [self = self(), work, &server](const std::string &what) {
            server.logFault(what);
            work->lease.reset();
            net::post(self->executor(), [self, work] {
                Reply r;
                r.status = 500;
                r.body = internalErrorBody();
                self->send(std::move(r), true);
                work->guard.reset();
            });
        };
        const bool login = m_admission.route == CoreRoute::Login;
        if (!(login ? *m_s.loginWorkers : *m_s.workers).submit(job, fault)) {
            work->guard.reset();
            // Logins that find their queue full get the login gate's own 429.
            Reply r = login ? fromCore(ServerCore::loginBusy(), {}) : refusalReply(HttpRefusal::Busy, false);
            r.close = false; // the request was read whole: the connection may go on
            send(std::move(r), true);
        }
    }

    // ---- the reply -------------------------------------------------------
    // `counted`: the reply answers a request read whole (it counts toward the
    // connection's requests and may keep the connection open).
    void send(Reply reply, bool counted)
    {
        if (m_aborted)
            return finish();
        m_parser.reset();
        m_lease.reset();
        if (counted) {
            ++m_served;
            m_s.metrics.record(reply.status, std::chrono::duration<double>(Clock::now() - m_requestStart).count());
        }
        m_closeAfter = reply.close || !counted || !m_head.keepAlive || m_served >= limits().maxRequestsPerConnection
                       || m_s.stopping;
        m_drainAfter = reply.drain;
        std::string &h = m_replyHead;
        h.clear();
        h += "HTTP/1.1 ";
        h += std::to_string(reply.status);
        h += ' ';
        const auto reason = http::obsolete_reason(http::int_to_status(unsigned(reply.status)));
        h.append(reason.data(), reason.size());
        h += "\r\n";
        if (reply.status != 204 && reply.status != 304) {
            if (reply.size() > 0) {
                h += "Content-Type: ";
                h += reply.contentType.toStdString();
                h += "\r\n";
            }
            if (reply.coding) {
                h += "Content-Encoding: ";
                h += reply.coding;
                h += "\r\nVary: Accept-Encoding\r\n";
            }
            h += "Content-Length: " + std::to_string(reply.size()) + "\r\n";
        } else {
            reply.body.clear();
            reply.middle.clear();
            reply.tail.clear();
        }
        if (reply.retryAfterSec > 0)
            h += "Retry-After: " + std::to_string(reply.retryAfterSec) + "\r\n";
        if (!reply.etag.isEmpty()) {
            h += "ETag: ";
            h += reply.etag.toStdString();
            h += "\r\n";
        }
        if (m_closeAfter)
            h += "Connection: close\r\n";
        else if (m_head.minorVersion == 0)
            h += "Connection: keep-alive\r\n";
        h += "\r\n";
        m_replyBody = std::move(reply.body);
        m_replyMiddle = std::move(reply.middle);
        m_replyTail = std::move(reply.tail);
        m_written = 0;
        setPhase(Phase::Writing);
        m_meter.start(Clock::now());
        writeSome();
    }

    void writeSome()
    {
        // Head and body's parts go out together; any part may be empty.
        std::array<net::const_buffer, 4> parts{
            net::buffer(m_replyHead.data(), m_replyHead.size()),
            net::buffer(m_replyBody.constData(), std::size_t(m_replyBody.size())),
            net::buffer(m_replyMiddle.constData(), std::size_t(m_replyMiddle.size())),
            net::buffer(m_replyTail.constData(), std::size_t(m_replyTail.size()))};
        std::size_t skip = m_written, left = 0;
        for (net::const_buffer &part : parts) {
            const std::size_t done = std::min(skip, part.size());
            part += done;
            skip -= done;
            left += part.size();
        }
        if (left == 0)
            return afterReply();
        // Within each window the reply must move by the minimum rate; a
        // client that reads nothing is cut at the window's end.
        tcp().expires_after(std::chrono::seconds(limits().rateWindowSec));
        m_stream.async_write_some(parts, [self = self()](error_code ec, std::size_t n) {
            if (ec || self->m_aborted)
                return self->finish();
            self->m_written += n;
            const auto now = Clock::now();
            self->m_meter.add(std::int64_t(n), now);
            if (self->m_meter.tooSlow(now))
                return self->finish();
            self->writeSome();
        });
    }

    void afterReply()
    {
        const bool large = std::size_t(m_replyBody.size() + m_replyMiddle.size() + m_replyTail.size()) > kLargeReply;
        m_replyBody = QByteArray();
        m_replyMiddle = QByteArray();
        m_replyTail = QByteArray();
        m_replyLease.reset();
        std::string().swap(m_replyHead);
        if (large)
            m_s.afterLargeReply();
        if (!m_closeAfter)
            return nextRequest();
        if (m_drainAfter && !kTls<Stream>)
            return linger();
        closeCleanly();
    }

    void closeCleanly()
    {
        if constexpr (kTls<Stream>) {
            tcp().expires_after(std::chrono::seconds(1));
            m_stream.async_shutdown([self = self()](error_code) { self->finish(); });
        } else {
            finish();
        }
    }

    // Unread request bytes at close would turn the reply into a reset on the
    // client's side; they are read and dropped for a short while first.
    void linger()
    {
        error_code ec;
        tcp().socket().shutdown(tcp::socket::shutdown_send, ec);
        m_buffer.clear();
        tcp().expires_after(std::chrono::milliseconds(m_lingerMs));
        drain();
    }

    void drain()
    {
        m_stream.async_read_some(m_buffer.prepare(kReadChunk), [self = self()](error_code ec, std::size_t n) {
            self->m_drained += n;
            self->m_buffer.clear();
            if (ec || self->m_aborted || self->m_drained >= kDrainLimit)
                return self->finish();
            self->drain();
        });
    }

    HttpServer::Impl &m_s;
    Stream m_stream;
    std::string m_address;
    bool m_admin;
    std::uint64_t m_id = 0;
    Clock::time_point m_requestStart;
    beast::flat_buffer m_buffer;
    std::size_t m_scanned = 0;
    RequestHead m_head;
    std::string m_client; // the request's client: the peer, or whom a trusted proxy names
    CoreAdmission m_admission;
    QByteArray m_path; // the request's path, read from its head
    std::optional<http::request_parser<http::string_body>> m_parser;
    MemoryLease m_lease;
    MemoryLease m_replyLease; // what the reply going out holds of the replies' budget
    RateMeter m_meter;
    int m_served = 0;
    bool m_aborted = false;
    std::string m_replyHead;
    QByteArray m_replyBody;
    QByteArray m_replyMiddle;
    QByteArray m_replyTail;
    std::size_t m_written = 0;
    bool m_closeAfter = false;
    bool m_drainAfter = false;
    int m_lingerMs = 1000;
    std::size_t m_drained = 0;
};

} // namespace

void HttpServer::Impl::accept(tcp::acceptor &on, bool admin)
{
    on.async_accept(net::make_strand(ioc), [this, &on, admin](error_code ec, tcp::socket socket) {
        if (!on.is_open())
            return;
        if (ec) {
            // Out of descriptors: wait a moment instead of spinning on the listen queue.
            auto retry = std::make_shared<net::steady_timer>(acceptStrand, std::chrono::milliseconds(50));
            retry->async_wait([this, &on, admin, retry](error_code waitEc) {
                if (!waitEc && on.is_open())
                    accept(on, admin);
            });
            return;
        }
        onAccepted(std::move(socket), admin);
        accept(on, admin);
    });
}

void HttpServer::Impl::onAccepted(tcp::socket socket, bool admin)
{
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return;
    socket.set_option(tcp::no_delay(true), ec);
    const std::string address = peer.address().to_string();
    if (tls && !admin)
        startConnection(beast::ssl_stream<beast::tcp_stream>(beast::tcp_stream(std::move(socket)), *tls), address, admin);
    else
        startConnection(beast::tcp_stream(std::move(socket)), address, admin);
}

template <class Stream>
void HttpServer::Impl::startConnection(Stream stream, const std::string &address, bool admin)
{
    auto connection = std::make_shared<Connection<Stream>>(*this, std::move(stream), address, admin);
    std::weak_ptr<Connection<Stream>> weak = connection;
    net::any_io_executor executor = connection->executor();
    const std::uint64_t id = table.admit(
        address,
        [weak, executor] {
            net::post(executor, [weak] {
                if (auto c = weak.lock())
                    c->abort();
            });
        },
        Clock::now(), nullptr, !trusted(address)); // a proxy carries many clients
    if (id == 0)
        connection->turnAway();
    else
        connection->start(id);
}

namespace {

int bindAcceptor(tcp::acceptor &acceptor, net::io_context &ioc, const QString &host, int port, int backlog)
{
    error_code ec;
    net::ip::address address = net::ip::make_address(host.toStdString(), ec);
    if (ec) {
        tcp::resolver resolver(ioc);
        const auto found = resolver.resolve(host.toStdString(), std::to_string(port), ec);
        if (ec || found.empty())
            return -1;
        address = found.begin()->endpoint().address();
    }
    const tcp::endpoint endpoint(address, std::uint16_t(port));
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(std::max(16, backlog), ec);
    if (ec) {
        error_code ignored;
        acceptor.close(ignored);
        return -1;
    }
    return acceptor.local_endpoint(ec).port();
}

} // namespace

HttpServer::HttpServer(ServerCore &core, const HttpLimits &limits) : d(std::make_unique<Impl>(core, limits))
{
    if (limits.tlsCert.isEmpty())
        return;
    d->tls.emplace(net::ssl::context::tls_server);
    net::ssl::context &ctx = *d->tls;
    // TLS 1.2 at least; on 1.2 only suites with forward secrecy and AEAD.
    ctx.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2
                    | net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1
                    | net::ssl::context::single_dh_use);
    SSL_CTX *native = ctx.native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_cipher_list(native, "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305");
    SSL_CTX_set_options(native, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
    error_code ec;
    ctx.use_certificate_chain_file(limits.tlsCert.toStdString(), ec);
    if (!ec)
        ctx.use_private_key_file(limits.tlsKey.toStdString(), net::ssl::context::pem, ec);
    if (!ec && SSL_CTX_check_private_key(native) != 1)
        ec = net::error::invalid_argument;
    d->valid = !ec;
}

HttpServer::~HttpServer() = default;

bool HttpServer::isValid() const
{
    return d->valid;
}

int HttpServer::bind(const QString &host, int port)
{
    return bindAcceptor(d->acceptor, d->ioc, host, port, d->limits.backlog);
}

int HttpServer::bindAdmin(const QString &host, int port)
{
    return bindAcceptor(d->adminAcceptor, d->ioc, host, port, 64);
}

bool HttpServer::serve()
{
    if (!d->acceptor.is_open())
        return false;
    d->running = true;
    net::post(d->acceptStrand, [impl = d.get()] {
        impl->accept(impl->acceptor, false);
        if (impl->adminAcceptor.is_open())
            impl->accept(impl->adminAcceptor, true);
    });
    auto run = [impl = d.get()] {
        // A handler that throws loses its own connection only.
        while (true) {
            try {
                impl->ioc.run();
                return;
            } catch (const std::exception &e) {
                impl->logFault(e.what());
            }
        }
    };
    std::vector<std::thread> more;
    for (int i = 1; i < d->limits.ioThreads; ++i)
        more.emplace_back(run);
    run();
    for (std::thread &t : more)
        t.join();
    d->running = false;
    return true;
}

void HttpServer::stop()
{
    d->stopping = true;
    net::post(d->acceptStrand, [impl = d.get()] {
        error_code ec;
        impl->acceptor.close(ec);
        impl->adminAcceptor.close(ec);
        // Connections waiting for a request close now; those with one finish it.
        impl->table.evictWaiting();
    });
}

bool HttpServer::isRunning() const
{
    return d->running;
}

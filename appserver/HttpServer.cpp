#include "HttpServer.h"

#include "ServerCore.h"

#include <httplib.h>
#include <zlib.h>
#include <zstd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <strings.h>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

qint64 msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

const char *const kTooBig = "A requisição excede o tamanho máximo de 16 MiB.";

// One thread per open connection, reused while there is work and ended after
// a while without. Connection threads only read and write.
class ConnectionThreads final : public httplib::TaskQueue
{
public:
    explicit ConnectionThreads(int maxThreads) : m_maxThreads(maxThreads) {}

    void enqueue(std::function<void()> fn) override
    {
        std::unique_lock lock(m_mutex);
        m_jobs.push_back(std::move(fn));
        // A waiting thread will take it, or (at the cap) the next one to finish.
        if (m_jobs.size() <= size_t(m_idle) || m_threads >= m_maxThreads) {
            m_cv.notify_one();
            return;
        }
        ++m_threads;
        std::thread([this] { run(); }).detach();
    }

    void shutdown() override
    {
        std::unique_lock lock(m_mutex);
        m_shutdown = true;
        m_cv.notify_all();
        m_done.wait(lock, [this] { return m_threads == 0; });
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (true) {
            if (m_jobs.empty()) {
                if (m_shutdown)
                    break;
                ++m_idle;
                const bool woke = m_cv.wait_for(lock, std::chrono::seconds(30),
                                                [this] { return !m_jobs.empty() || m_shutdown; });
                --m_idle;
                if (!woke)
                    break;
                continue;
            }
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
        }
        --m_threads;
        m_done.notify_all(); // under the lock: the queue may be freed right after
    }

    std::mutex m_mutex;
    std::condition_variable m_cv, m_done;
    std::deque<std::function<void()>> m_jobs;
    int m_maxThreads;
    int m_idle = 0;
    int m_threads = 0;
    bool m_shutdown = false;
};

// A fixed set of threads that run the core: its database connections (one
// per thread) and its processor use stay bounded however many clients are
// connected. The connection's thread waits for its request's turn.
class WorkerPool final
{
public:
    WorkerPool(int threads, size_t maxWaiting) : m_maxWaiting(maxWaiting)
    {
        for (int i = 0; i < std::max(1, threads); ++i)
            m_threads.emplace_back([this] { work(); });
    }
    ~WorkerPool()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_cv.notify_all();
        for (std::thread &t : m_threads)
            t.join();
    }

    // Runs fn on a worker and waits for it; false (fn not run) when too many already wait.
    bool run(const std::function<void()> &fn)
    {
        struct Job
        {
            const std::function<void()> *fn;
            bool done = false;
        } job{&fn};
        std::unique_lock lock(m_mutex);
        if (m_waiting.size() >= m_maxWaiting)
            return false;
        m_waiting.push_back([&job, this] {
            (*job.fn)();
            std::lock_guard doneLock(m_mutex);
            job.done = true;
            m_finished.notify_all();
        });
        m_cv.notify_one();
        m_finished.wait(lock, [&job] { return job.done; });
        return true;
    }

private:
    void work()
    {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_cv.wait(lock, [this] { return m_stop || !m_waiting.empty(); });
            if (m_waiting.empty())
                return;
            std::function<void()> job = std::move(m_waiting.front());
            m_waiting.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    size_t m_maxWaiting;
    std::mutex m_mutex;
    std::condition_variable m_cv, m_finished;
    std::deque<std::function<void()>> m_waiting;
    std::vector<std::thread> m_threads;
    bool m_stop = false;
};

// What a handler tells the connection loop about the connection it runs on.
struct ConnectionState
{
    bool closeAfterResponse = false;
};
thread_local ConnectionState *t_connection = nullptr;

void closeAfterResponse(httplib::Response &res)
{
    if (t_connection)
        t_connection->closeAfterResponse = true;
    res.set_header("Connection", "close");
}

// A connection's bytes with the limits applied: the request (line, headers
// and body) must arrive within headTimeout plus one second per minRate bytes
// received, so a trickle is cut however it spreads its bytes; replies are
// gathered and leave in one write.
class GuardedStream final : public httplib::Stream
{
public:
    GuardedStream(int fd, SSL *ssl, const HttpLimits &limits, std::function<bool()> stopping)
        : m_fd(fd), m_ssl(ssl), m_limits(limits), m_stopping(std::move(stopping))
    {
    }

    void beginRequest()
    {
        m_start = Clock::now();
        m_received = 0;
    }
    bool hasBufferedInput() const { return m_pos < m_end || (m_ssl && SSL_pending(m_ssl) > 0); }

    // Waits for the next request of a kept-alive connection.
    bool waitForRequest(int timeoutSec)
    {
        const auto start = Clock::now();
        while (!hasBufferedInput()) {
            if (m_stopping())
                return false;
            const qint64 left = qint64(timeoutSec) * 1000 - msSince(start);
            if (left <= 0)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            const int r = ::poll(&p, 1, int(std::min<qint64>(left, 200)));
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
        }
        return true;
    }

    bool is_readable() const override
    {
        if (hasBufferedInput())
            return true;
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, int(std::max<qint64>(0, deadlineLeftMs()))) > 0;
    }

    bool is_writable() const override
    {
        pollfd p{m_fd, POLLOUT, 0};
        return ::poll(&p, 1, m_limits.headTimeoutSec * 1000) > 0;
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (m_pos >= m_end) {
            if (!m_out.empty() && !flush()) // an interim reply (100 Continue) goes first
                return -1;
            const ssize_t n = fill();
            if (n <= 0)
                return n;
        }
        const size_t n = std::min(size, m_end - m_pos);
        std::memcpy(ptr, m_buffer + m_pos, n);
        m_pos += n;
        return ssize_t(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (m_out.size() + size <= kGather) {
            m_out.append(ptr, size);
            return ssize_t(size);
        }
        if (!send(ptr, size))
            return -1;
        return ssize_t(size);
    }

    bool flush() { return m_out.empty() || send(nullptr, 0); }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address(true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address(false, ip, port); }
    socket_t socket() const override { return m_fd; }

    bool timedOut() const { return m_timedOut; }
    size_t bytesSent() const { return m_sent; }

private:
    static constexpr size_t kGather = 64 * 1024;

    qint64 deadlineLeftMs() const
    {
        const qint64 allowed = qint64(m_limits.headTimeoutSec) * 1000
                               + qint64(m_received) * 1000 / std::max(1, m_limits.minBytesPerSec);
        return allowed - msSince(m_start);
    }

    // Reads what is there into the buffer: >0 bytes, 0 end of stream, -1 failure or time up.
    ssize_t fill()
    {
        while (true) {
            if (m_stopping())
                return -1;
            const qint64 left = deadlineLeftMs();
            if (left <= 0) {
                m_timedOut = true;
                return -1;
            }
            short wanted = POLLIN;
            ssize_t n;
            if (m_ssl) {
                const int r = SSL_read(m_ssl, m_buffer, int(sizeof m_buffer));
                if (r > 0) {
                    n = r;
                } else {
                    const int e = SSL_get_error(m_ssl, r);
                    if (e == SSL_ERROR_ZERO_RETURN)
                        return 0;
                    if (e == SSL_ERROR_WANT_WRITE)
                        wanted = POLLOUT;
                    else if (e != SSL_ERROR_WANT_READ)
                        return -1;
                    n = -2;
                }
            } else {
                n = ::recv(m_fd, m_buffer, sizeof m_buffer, 0);
                if (n == 0)
                    return 0;
                if (n < 0) {
                    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                        return -1;
                    n = -2;
                }
            }
            if (n > 0) {
                // Acknowledged at once, not after the delayed-acknowledgement
                // timer: a client that sends its head and body as two small
                // writes (Nagle) would otherwise wait about 40 ms for the second.
                const int one = 1;
                ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
                m_received += size_t(n);
                m_pos = 0;
                m_end = size_t(n);
                return n;
            }
            pollfd p{m_fd, wanted, 0};
            const int r = ::poll(&p, 1, int(std::min<qint64>(left, 200)));
            if (r < 0 && errno != EINTR)
                return -1;
        }
    }

    // Sends the gathered bytes and then [extra, extra + extraSize) as one write where the
    // socket takes it, within a deadline that grows with the size at the minimum rate.
    bool send(const char *extra, size_t extraSize)
    {
        const auto start = Clock::now();
        const size_t total = m_out.size() + extraSize;
        const qint64 allowed = qint64(m_limits.headTimeoutSec) * 1000
                               + qint64(total) * 1000 / std::max(1, m_limits.minBytesPerSec);
        size_t done = 0;
        if (m_ssl && extraSize > 0 && m_out.size() + extraSize <= 4 * kGather) {
            m_out.append(extra, extraSize); // one record stream for small replies
            extra = nullptr;
            extraSize = 0;
        }
        while (done < total) {
            ssize_t n;
            short wanted = POLLOUT;
            const size_t inOut = done < m_out.size() ? m_out.size() - done : 0;
            if (m_ssl) {
                const char *p = inOut ? m_out.data() + done : extra + (done - m_out.size());
                const size_t len = inOut ? inOut : total - done;
                const int r = SSL_write(m_ssl, p, int(std::min<size_t>(len, 1 << 30)));
                if (r > 0) {
                    n = r;
                } else {
                    const int e = SSL_get_error(m_ssl, r);
                    if (e == SSL_ERROR_WANT_READ)
                        wanted = POLLIN;
                    else if (e != SSL_ERROR_WANT_WRITE)
                        return false;
                    n = -2;
                }
            } else {
                iovec iov[2];
                int count = 0;
                if (inOut)
                    iov[count++] = {const_cast<char *>(m_out.data() + done), inOut};
                if (extraSize) {
                    const size_t skip = done > m_out.size() ? done - m_out.size() : 0;
                    iov[count++] = {const_cast<char *>(extra + skip), extraSize - skip};
                }
                msghdr msg{};
                msg.msg_iov = iov;
                msg.msg_iovlen = size_t(count);
                n = ::sendmsg(m_fd, &msg, MSG_NOSIGNAL);
                if (n < 0) {
                    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                        return false;
                    n = -2;
                }
            }
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            const qint64 left = allowed - msSince(start);
            if (left <= 0)
                return false;
            pollfd p{m_fd, wanted, 0};
            if (::poll(&p, 1, int(std::min<qint64>(left, 1000))) < 0 && errno != EINTR)
                return false;
        }
        m_sent += total;
        m_out.clear();
        return true;
    }

    void address(bool remote, std::string &ip, int &port) const
    {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        const int r = remote ? ::getpeername(m_fd, reinterpret_cast<sockaddr *>(&addr), &len)
                             : ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len);
        ip.clear();
        port = 0;
        if (r != 0)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (addr.ss_family == AF_INET) {
            const auto *a = reinterpret_cast<const sockaddr_in *>(&addr);
            ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
            port = ntohs(a->sin_port);
        } else if (addr.ss_family == AF_INET6) {
            const auto *a = reinterpret_cast<const sockaddr_in6 *>(&addr);
            ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
            port = ntohs(a->sin6_port);
        }
        ip = text;
    }

    int m_fd;
    SSL *m_ssl;
    const HttpLimits &m_limits;
    std::function<bool()> m_stopping;
    Clock::time_point m_start = Clock::now();
    size_t m_received = 0;
    char m_buffer[16 * 1024];
    size_t m_pos = 0, m_end = 0;
    std::string m_out;
    size_t m_sent = 0;
    bool m_timedOut = false;
};

std::string peerAddress(int fd)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(&addr)->sin_addr, text, sizeof text);
    else if (addr.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(&addr)->sin6_addr, text, sizeof text);
    return text;
}

// Unread request bytes at close would turn the reply into a reset on the
// client's side; they are read and dropped for up to `ms` first.
void lingeringClose(int fd, int ms = 1000)
{
    ::shutdown(fd, SHUT_WR);
    const auto start = Clock::now();
    char sink[16 * 1024];
    size_t drained = 0;
    while (drained < 16 * 1024 * 1024) {
        const qint64 left = ms - msSince(start);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(std::min<qint64>(left, 100))) <= 0) {
            if (left <= 0)
                break;
            continue;
        }
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n <= 0)
            break;
        drained += size_t(n);
    }
    ::close(fd);
}

// ---- reply compression ------------------------------------------------------
// The library would compress every JSON reply itself, in brotli at its slowest
// setting when the client offers it (under 1 MB/s: slower than sending the
// bytes even on a slow network). Replies are compressed here instead, with a
// codec and level that cost less than sending the bytes: zstd when the client
// takes it, else gzip at its fastest level; small replies go as they are.
constexpr size_t kCompressFrom = 1024;

// Whether Accept-Encoding offers `coding` (a q of 0 refuses it).
bool accepts(const std::string &header, const char *coding)
{
    size_t start = 0;
    while (start <= header.size()) {
        size_t end = header.find(',', start);
        if (end == std::string::npos)
            end = header.size();
        std::string item = header.substr(start, end - start);
        const size_t semi = item.find(';');
        std::string name = item.substr(0, semi);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        if (strcasecmp(name.c_str(), coding) == 0) {
            if (semi == std::string::npos)
                return true;
            std::string params = item.substr(semi + 1);
            params.erase(std::remove_if(params.begin(), params.end(), [](char c) { return c == ' ' || c == '\t'; }),
                         params.end());
            if (params.rfind("q=", 0) != 0 && params.rfind("Q=", 0) != 0)
                return true;
            return std::strtod(params.c_str() + 2, nullptr) > 0.0;
        }
        start = end + 1;
    }
    return false;
}

bool gzipCompress(const std::string &in, std::string &out)
{
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out.resize(deflateBound(&z, uLong(in.size())));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END;
}

bool zstdCompress(const std::string &in, std::string &out)
{
    out.resize(ZSTD_compressBound(in.size()));
    const size_t n = ZSTD_compress(out.data(), out.size(), in.data(), in.size(), 1);
    if (ZSTD_isError(n))
        return false;
    out.resize(n);
    return true;
}

void compressReply(const httplib::Request &req, httplib::Response &res)
{
    const std::string offered = req.get_header_value("Accept-Encoding");
    // The library must not compress again: it reads the same header.
    const_cast<httplib::Request &>(req).headers.erase("Accept-Encoding");
    if (res.body.size() < kCompressFrom || offered.empty() || !req.ranges.empty())
        return;
    std::string packed;
    const char *coding = nullptr;
    if (accepts(offered, "zstd") && zstdCompress(res.body, packed))
        coding = "zstd";
    else if (accepts(offered, "gzip") && gzipCompress(res.body, packed))
        coding = "gzip";
    if (!coding || packed.size() >= res.body.size())
        return;
    res.body.swap(packed);
    res.set_header("Content-Encoding", coding);
    res.set_header("Vary", "Accept-Encoding");
}

} // namespace

struct HttpServer::Impl
{
    Impl(ServerCore &c, const HttpLimits &l)
        : core(c), limits(l), workers(l.workers, size_t(-1)), loginWorkers(l.loginWorkers, 64)
    {
    }

    // Counts a new connection; false when the server or its address is full.
    bool admit(const std::string &address)
    {
        std::lock_guard lock(mutex);
        if (open >= limits.maxConnections)
            return false;
        int &mine = perAddress[address];
        if (mine >= limits.maxPerAddress)
            return false;
        ++mine;
        ++open;
        return true;
    }
    void release(const std::string &address)
    {
        std::lock_guard lock(mutex);
        --open;
        const auto it = perAddress.find(address);
        if (it != perAddress.end() && --it->second <= 0)
            perAddress.erase(it);
    }

    // Freed memory goes back to the system after a large reply, at most a few times a second.
    void afterLargeReply()
    {
        const auto now = Clock::now();
        {
            std::lock_guard lock(mutex);
            if (now - lastTrim < std::chrono::milliseconds(200))
                return;
            lastTrim = now;
        }
        ::malloc_trim(0);
    }

    void handle(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader);

    ServerCore &core;
    HttpLimits limits;
    WorkerPool workers;      // every request but logins
    WorkerPool loginWorkers; // logins: a password check each, on a few threads of their own
    std::mutex mutex;
    int open = 0;
    std::unordered_map<std::string, int> perAddress;
    Clock::time_point lastTrim;
    int listenFd = -1;
    std::unique_ptr<httplib::Server> server;
};

namespace {

template <class Base>
class GuardedServer final : public Base
{
public:
    template <class... Args>
    explicit GuardedServer(HttpServer::Impl &impl, Args &&...args) : Base(std::forward<Args>(args)...), m_impl(impl)
    {
    }

private:
    bool stopping() const { return this->svr_sock_ == INVALID_SOCKET; }

    bool process_and_close_socket(socket_t sock) override
    {
        const std::string address = peerAddress(sock);
        if (!m_impl.admit(address)) {
            static const std::string text = "{\"error\":\"Servidor ocupado; tente novamente.\"}";
            static const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\nConnection: close\r\n"
                                            "Content-Type: application/json\r\nContent-Length: "
                                            + std::to_string(text.size()) + "\r\n\r\n" + text;
            ::send(sock, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            lingeringClose(sock, 100); // briefly: a flood of these must not pile up threads
            return false;
        }
        const int one = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);

        SSL *ssl = nullptr;
        bool ok = true;
        if constexpr (std::is_same_v<Base, httplib::SSLServer>) {
            ssl = SSL_new(this->ssl_context());
            ok = ssl && SSL_set_fd(ssl, sock) == 1 && handshake(ssl, sock);
        }
        ConnectionState state;
        bool closedCleanly = true;
        if (ok) {
            t_connection = &state;
            GuardedStream stream(sock, ssl, m_impl.limits, [this] { return stopping(); });
            const int max = std::max(1, m_impl.limits.maxRequestsPerConnection);
            for (int count = 1; count <= max; ++count) {
                if (!stream.waitForRequest(m_impl.limits.idleTimeoutSec))
                    break;
                stream.beginRequest();
                bool clientClosing = false;
                const size_t sentBefore = stream.bytesSent();
                const bool handled = this->process_request(stream, count == max || stopping(), clientClosing, nullptr);
                const bool flushed = stream.flush();
                if (stream.bytesSent() - sentBefore > 4 * 1024 * 1024)
                    m_impl.afterLargeReply();
                if (!handled || !flushed || clientClosing || state.closeAfterResponse) {
                    closedCleanly = !state.closeAfterResponse && !stream.timedOut();
                    break;
                }
            }
            t_connection = nullptr;
        }
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (closedCleanly) {
            ::shutdown(sock, SHUT_RDWR);
            ::close(sock);
        } else {
            lingeringClose(sock);
        }
        m_impl.release(address);
        return ok;
    }

    bool handshake(SSL *ssl, int sock)
    {
        const auto start = Clock::now();
        while (true) {
            const int r = SSL_accept(ssl);
            if (r == 1)
                return true;
            const int e = SSL_get_error(ssl, r);
            if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
                return false;
            const qint64 left = qint64(m_impl.limits.headTimeoutSec) * 1000 - msSince(start);
            if (left <= 0 || stopping())
                return false;
            pollfd p{sock, short(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
            ::poll(&p, 1, int(std::min<qint64>(left, 200)));
        }
    }

    HttpServer::Impl &m_impl;
};

} // namespace

void HttpServer::Impl::handle(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader)
{
    std::string body;
    if (reader) {
        bool tooBig = false;
        const bool read = (*reader)([&](const char *data, size_t n) {
            if (body.size() + n > size_t(ServerCore::kMaxBody)) {
                tooBig = true;
                return false;
            }
            body.append(data, n);
            return true;
        });
        if (tooBig || !read) {
            std::string().swap(body);
            closeAfterResponse(res);
            res.status = tooBig ? 413 : 400;
            res.set_content(std::string("{\"error\":\"") + (tooBig ? kTooBig : "Corpo da requisição inválido.") + "\"}",
                            "application/json");
            return;
        }
    }
    CoreRequest request;
    request.method = QByteArray::fromStdString(req.method);
    request.path = QByteArray::fromStdString(req.path);
    request.authorization = QByteArray::fromStdString(req.get_header_value("Authorization"));
    request.body = QByteArray(body.data(), qsizetype(body.size()));
    request.peer = QByteArray::fromStdString(req.remote_addr);
    std::string().swap(body);
    CoreResponse response;
    // Logins wait for threads of their own, so a login flood leaves the
    // workers to logged-in users; a login that finds a long queue is told
    // to come back.
    const bool login = req.method == "POST" && req.path == "/session";
    if (!(login ? loginWorkers : workers).run([&] { response = core.handle(request); })) {
        response = CoreResponse{429, "{\"error\":\"Tentativas de entrada demais. Aguarde 1 s e tente novamente.\"}",
                                "application/json", 1};
    }
    res.status = response.status;
    if (response.retryAfterSec > 0)
        res.set_header("Retry-After", std::to_string(response.retryAfterSec));
    if (!response.body.isEmpty())
        res.set_content(response.body.constData(), size_t(response.body.size()), response.contentType.toStdString());
    compressReply(req, res);
}

HttpServer::HttpServer(ServerCore &core, const HttpLimits &limits) : d(std::make_unique<Impl>(core, limits))
{
    if (!limits.tlsCert.isEmpty()) {
        const std::string cert = limits.tlsCert.toStdString(), key = limits.tlsKey.toStdString();
        auto tls = std::make_unique<GuardedServer<httplib::SSLServer>>(*d, cert.c_str(), key.c_str());
        // TLS 1.2 at least; on 1.2 only suites with forward secrecy and AEAD.
        if (SSL_CTX *ctx = tls->ssl_context()) {
            SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
            SSL_CTX_set_cipher_list(ctx, "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                         "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                         "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305");
            SSL_CTX_set_options(ctx, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
        }
        d->server = std::move(tls);
    } else {
        d->server = std::make_unique<GuardedServer<httplib::Server>>(*d);
    }
    httplib::Server &s = *d->server;
    // The cap only matters beyond maxConnections, where connections are turned away quickly.
    s.new_task_queue = [max = limits.maxConnections] { return new ConnectionThreads(max + 64); };
    s.set_payload_max_length(size_t(ServerCore::kMaxBody));
    s.set_tcp_nodelay(true);
    s.set_keep_alive_max_count(size_t(std::max(1, limits.maxRequestsPerConnection))); // announced; enforced below
    s.set_keep_alive_timeout(std::max(1, limits.idleTimeoutSec));
    s.set_socket_options([impl = d.get()](socket_t sock) {
        const int one = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        impl->listenFd = sock;
    });

    // Refusals decided from the head alone, before any body is read: the
    // connection closes after them, as the body's end is not known.
    s.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        auto refuse = [&res](int status, const char *text) {
            closeAfterResponse(res);
            res.status = status;
            res.set_content(std::string("{\"error\":\"") + text + "\"}", "application/json");
            return httplib::Server::HandlerResponse::Handled;
        };
        if (req.method != "GET" && req.method != "POST" && req.method != "DELETE" && req.method != "PUT")
            return refuse(405, "Método HTTP não permitido.");
        // The server serves no files: a request for ranges is refused with no
        // body at all, as the library would repeat any body once per range.
        if (req.has_header("Range")) {
            closeAfterResponse(res);
            res.status = 400;
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.has_header("Content-Length")) {
            if (req.get_header_value_count("Content-Length") != 1)
                return refuse(400, "Content-Length repetido.");
            const std::string length = req.get_header_value("Content-Length");
            const bool digits = !length.empty() && length.find_first_not_of("0123456789") == std::string::npos;
            if (!digits)
                return refuse(400, "Content-Length inválido.");
            if (length.size() > 10 || std::stoull(length) > size_t(ServerCore::kMaxBody))
                return refuse(413, kTooBig);
        }
        if (req.has_header("Transfer-Encoding") && req.get_header_value("Transfer-Encoding") != "chunked")
            return refuse(400, "Transfer-Encoding não suportado.");
        const std::string encoding = req.get_header_value("Content-Encoding");
        if (!encoding.empty() && encoding != "gzip" && encoding != "deflate" && encoding != "identity")
            return refuse(415, "Content-Encoding não suportado.");
        return httplib::Server::HandlerResponse::Unhandled;
    });

    Impl *impl = d.get();
    auto withBody = [impl](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
        impl->handle(req, res, &reader);
    };
    auto withoutBody = [impl](const httplib::Request &req, httplib::Response &res) { impl->handle(req, res, nullptr); };
    s.Post(".*", withBody);
    s.Delete(".*", withBody);
    s.Put(".*", withBody);
    s.Get(".*", withoutBody);

    // The library's own refusals (bad request line, headers too long) get a JSON body too.
    s.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty())
            return;
        closeAfterResponse(res);
        const char *text = res.status == 413 ? kTooBig : "Requisição HTTP inválida.";
        res.set_content(std::string("{\"error\":\"") + text + "\"}", "application/json");
    });
}

HttpServer::~HttpServer() = default;

bool HttpServer::isValid() const
{
    return d->server->is_valid();
}

int HttpServer::bind(const QString &host, int port)
{
    const std::string h = host.toStdString();
    int bound = -1;
    if (port == 0)
        bound = d->server->bind_to_any_port(h);
    else
        bound = d->server->bind_to_port(h, port) ? port : -1;
    // The library listens with a short queue; a second listen() only lengthens it.
    if (bound > 0 && d->listenFd >= 0)
        ::listen(d->listenFd, std::max(16, d->limits.backlog));
    return bound;
}

bool HttpServer::serve()
{
    return d->server->listen_after_bind();
}

void HttpServer::stop()
{
    d->server->stop();
}

bool HttpServer::isRunning() const
{
    return d->server->is_running();
}

#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

// What the HTTP layer counts for /metrics: replies by status and the time
// from a request's first byte to its reply, as a Prometheus histogram.
class HttpMetrics
{
public:
    static constexpr std::array<double, 12> kBuckets{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                     0.1,   0.25,   0.5,   1,    2.5,   10};
    struct Gauges
    {
        int connections = 0;
        std::size_t queued = 0;
        std::int64_t bodyBytes = 0;
        std::int64_t replyBytes = 0;
    };

    void record(int status, double seconds)
    {
        if (status >= 100 && status < 600)
            m_status[std::size_t(status)].fetch_add(1, std::memory_order_relaxed);
        std::size_t i = 0;
        while (i < kBuckets.size() && seconds > kBuckets[i])
            ++i;
        m_buckets[i].fetch_add(1, std::memory_order_relaxed);
        m_sumMicros.fetch_add(std::uint64_t(seconds * 1e6), std::memory_order_relaxed);
    }

    std::string text(const Gauges &g) const
    {
        std::string out = "# HELP vor_http_requests_total Requests answered, by HTTP status.\n"
                          "# TYPE vor_http_requests_total counter\n";
        for (std::size_t s = 100; s < m_status.size(); ++s)
            if (const std::uint64_t n = m_status[s].load(std::memory_order_relaxed))
                out += "vor_http_requests_total{code=\"" + std::to_string(s) + "\"} " + std::to_string(n) + "\n";
        out += "# HELP vor_http_request_duration_seconds From a request's first byte to its reply.\n"
               "# TYPE vor_http_request_duration_seconds histogram\n";
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i <= kBuckets.size(); ++i) {
            cumulative += m_buckets[i].load(std::memory_order_relaxed);
            const std::string le = i < kBuckets.size() ? number(kBuckets[i]) : "+Inf";
            out += "vor_http_request_duration_seconds_bucket{le=\"" + le + "\"} " + std::to_string(cumulative) + "\n";
        }
        out += "vor_http_request_duration_seconds_sum " + number(double(m_sumMicros.load()) / 1e6) + "\n";
        out += "vor_http_request_duration_seconds_count " + std::to_string(cumulative) + "\n";
        out += gauge("vor_http_connections_open", "Open client connections.", std::int64_t(g.connections));
        out += gauge("vor_http_requests_queued", "Requests waiting for a worker.", std::int64_t(g.queued));
        out += gauge("vor_http_body_bytes", "Request bodies in flight.", g.bodyBytes);
        out += gauge("vor_http_reply_bytes", "Large replies built and not yet sent.", g.replyBytes);
        return out;
    }

private:
    static std::string number(double v)
    {
        std::string s = std::to_string(v);
        s.erase(s.find_last_not_of('0') + 1);
        if (!s.empty() && s.back() == '.')
            s.pop_back();
        return s;
    }
    static std::string gauge(const char *name, const char *help, std::int64_t value)
    {
        return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n" + name + " "
               + std::to_string(value) + "\n";
    }

    std::array<std::atomic<std::uint64_t>, 600> m_status{};
    std::array<std::atomic<std::uint64_t>, kBuckets.size() + 1> m_buckets{};
    std::atomic<std::uint64_t> m_sumMicros{0};
};

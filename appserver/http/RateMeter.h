#pragma once

#include <chrono>
#include <cstdint>
#include <algorithm>
#include <vector>

// Whether bytes keep moving at a minimum rate over a sliding window of whole
// seconds: a peer that trickles or stops is told apart from one that is
// merely large. The first window after start() is never judged.
class RateMeter
{
public:
    using Clock = std::chrono::steady_clock;

    RateMeter(std::int64_t minBytesPerSec, int windowSec)
        : m_min(minBytesPerSec), m_window(windowSec > 0 ? windowSec : 1), m_buckets(std::size_t(m_window + 1), 0)
    {
    }

    void start(Clock::time_point now)
    {
        m_start = now;
        m_last = second(now);
        std::fill(m_buckets.begin(), m_buckets.end(), 0);
    }

    void add(std::int64_t bytes, Clock::time_point now)
    {
        advance(second(now));
        m_buckets[std::size_t(m_last % std::int64_t(m_buckets.size()))] += bytes;
    }

    bool tooSlow(Clock::time_point now)
    {
        if (now - m_start < std::chrono::seconds(m_window))
            return false;
        // The current second and the `window` before it: between window and
        // window + 1 seconds of time, judged against a whole window's bytes.
        advance(second(now));
        std::int64_t sum = 0;
        for (std::int64_t b : m_buckets)
            sum += b;
        return sum < m_min * m_window;
    }

private:
    static std::int64_t second(Clock::time_point t)
    {
        return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    }

    // Empties the buckets of the seconds that passed without bytes.
    void advance(std::int64_t now)
    {
        const std::int64_t n = std::int64_t(m_buckets.size());
        for (std::int64_t s = m_last + 1; s <= now && s <= m_last + n; ++s)
            m_buckets[std::size_t(s % n)] = 0;
        if (now > m_last)
            m_last = now;
    }

    std::int64_t m_min;
    std::int64_t m_window;
    std::vector<std::int64_t> m_buckets;
    Clock::time_point m_start;
    std::int64_t m_last = 0;
};

#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

// Which connections may stay open. Each address has a hard cap (beyond it a
// newcomer is turned away). When the server as a whole is full, room is made
// by closing the connection that has waited longest for a request or for the
// rest of one (idle, or sending its head or body slowly); connections whose
// request runs or whose reply is going out are never chosen.
class ConnectionTable
{
public:
    using Clock = std::chrono::steady_clock;
    using Evict = std::function<void()>; // closes the connection; called outside the table's lock
    enum class Phase { Idle, Head, Body, Working, Writing };
    enum class Verdict { Admitted, Evicted, AddressFull, Full };

    ConnectionTable(int maxConnections, int maxPerAddress);

    // The new connection's id (0 when refused); `verdict` says why or how.
    // `capped` false: the address has no cap of its own (a trusted proxy carries many clients).
    std::uint64_t admit(const std::string &address, Evict evict, Clock::time_point now, Verdict *verdict = nullptr,
                        bool capped = true);
    void setPhase(std::uint64_t id, Phase phase, Clock::time_point now);
    // Forgets the connection (no-op when it was evicted or never admitted).
    void release(std::uint64_t id);
    // Closes every connection in one of the waiting phases (Idle, Head): for a stop.
    void evictWaiting();
    int open() const;
    int openFrom(const std::string &address) const;

private:
    struct Entry
    {
        std::string address;
        Evict evict;
        Phase phase = Phase::Idle;
        Clock::time_point since;
    };
    // Removes and returns the eviction of the best victim, if any; under the lock.
    Evict takeVictim();
    void forget(std::unordered_map<std::uint64_t, Entry>::iterator it);

    const int m_max;
    const int m_maxPerAddress;
    mutable std::mutex m_mutex;
    std::uint64_t m_nextId = 1;
    std::unordered_map<std::uint64_t, Entry> m_entries;
    std::unordered_map<std::string, int> m_perAddress;
};

// Bytes that request bodies in flight may hold, all connections together.
class MemoryBudget
{
public:
    explicit MemoryBudget(std::int64_t bytes) : m_left(bytes) {}
    bool take(std::int64_t bytes)
    {
        std::int64_t left = m_left.load(std::memory_order_relaxed);
        do {
            if (left < bytes)
                return false;
        } while (!m_left.compare_exchange_weak(left, left - bytes, std::memory_order_relaxed));
        return true;
    }
    void give(std::int64_t bytes) { m_left.fetch_add(bytes, std::memory_order_relaxed); }
    std::int64_t left() const { return m_left.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> m_left;
};

// What one request holds of the budget; given back when it ends.
class MemoryLease
{
public:
    explicit MemoryLease(MemoryBudget &budget) : m_budget(&budget) {}
    MemoryLease(MemoryLease &&other) noexcept : m_budget(other.m_budget), m_held(other.m_held) { other.m_held = 0; }
    MemoryLease &operator=(MemoryLease &&) = delete;
    ~MemoryLease() { reset(); }
    // n > 0 takes more (false: the budget is spent); n < 0 gives some back.
    bool change(std::int64_t n)
    {
        if (n <= 0) {
            n = std::max(n, -m_held);
            m_budget->give(-n);
            m_held += n;
            return true;
        }
        if (!m_budget->take(n))
            return false;
        m_held += n;
        return true;
    }
    // Takes what `other` holds (of the same budget).
    void takeOver(MemoryLease &other)
    {
        m_held += other.m_held;
        other.m_held = 0;
    }
    void reset()
    {
        m_budget->give(m_held);
        m_held = 0;
    }
    std::int64_t held() const { return m_held; }

private:
    MemoryBudget *m_budget;
    std::int64_t m_held = 0;
};

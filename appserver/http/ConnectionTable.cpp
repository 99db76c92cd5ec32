#include "ConnectionTable.h"

#include <vector>

ConnectionTable::ConnectionTable(int maxConnections, int maxPerAddress)
    : m_max(std::max(1, maxConnections)), m_maxPerAddress(std::max(1, maxPerAddress))
{
}

std::uint64_t ConnectionTable::admit(const std::string &address, Evict evict, Clock::time_point now, Verdict *verdict,
                                     bool capped)
{
    Evict victim;
    std::uint64_t id = 0;
    Verdict v = Verdict::Admitted;
    {
        std::lock_guard lock(m_mutex);
        const auto mine = m_perAddress.find(address);
        if (capped && mine != m_perAddress.end() && mine->second >= m_maxPerAddress) {
            v = Verdict::AddressFull;
        } else if (int(m_entries.size()) >= m_max) {
            victim = takeVictim();
            v = victim ? Verdict::Evicted : Verdict::Full;
        }
        if (v == Verdict::Admitted || v == Verdict::Evicted) {
            id = m_nextId++;
            m_entries.emplace(id, Entry{address, std::move(evict), Phase::Idle, now});
            ++m_perAddress[address];
        }
    }
    if (victim)
        victim();
    if (verdict)
        *verdict = v;
    return id;
}

ConnectionTable::Evict ConnectionTable::takeVictim()
{
    // Waiting for a request or for the rest of its head first; then slow bodies.
    auto best = m_entries.end();
    auto rank = [](Phase p) { return p == Phase::Idle || p == Phase::Head ? 0 : p == Phase::Body ? 1 : 2; };
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (rank(it->second.phase) == 2)
            continue;
        if (best == m_entries.end() || rank(it->second.phase) < rank(best->second.phase)
            || (rank(it->second.phase) == rank(best->second.phase) && it->second.since < best->second.since))
            best = it;
    }
    if (best == m_entries.end())
        return {};
    Evict evict = std::move(best->second.evict);
    forget(best);
    return evict;
}

void ConnectionTable::forget(std::unordered_map<std::uint64_t, Entry>::iterator it)
{
    const auto a = m_perAddress.find(it->second.address);
    if (a != m_perAddress.end() && --a->second <= 0)
        m_perAddress.erase(a);
    m_entries.erase(it);
}

void ConnectionTable::setPhase(std::uint64_t id, Phase phase, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(id);
    if (it == m_entries.end())
        return;
    it->second.phase = phase;
    it->second.since = now;
}

void ConnectionTable::release(std::uint64_t id)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(id);
    if (it != m_entries.end())
        forget(it);
}

void ConnectionTable::evictWaiting()
{
    std::vector<Evict> closing;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            const auto next = std::next(it);
            if (it->second.phase == Phase::Idle || it->second.phase == Phase::Head) {
                closing.push_back(std::move(it->second.evict));
                forget(it);
            }
            it = next;
        }
    }
    for (Evict &e : closing)
        if (e)
            e();
}

int ConnectionTable::open() const
{
    std::lock_guard lock(m_mutex);
    return int(m_entries.size());
}

int ConnectionTable::openFrom(const std::string &address) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_perAddress.find(address);
    return it == m_perAddress.end() ? 0 : it->second;
}

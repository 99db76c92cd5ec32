#include "AnswerCache.h"

qint64 AnswerCache::sizeOf(const QByteArray &key, const EncodedAnswer &a)
{
    // The by-reference values are a handful of short texts.
    return key.size() + a.payload.size() + 64 * (a.byref.size() + 1);
}

AnswerCache::Answer AnswerCache::get(const QByteArray &key, const Build &build, bool *built)
{
    if (built)
        *built = false;
    std::shared_ptr<Pending> pending;
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            const auto it = m_entries.find(key);
            if (it != m_entries.end()) {
                m_order.splice(m_order.begin(), m_order, it->use);
                ++m_stats.hits;
                return it->answer;
            }
            const auto running = m_pending.constFind(key);
            if (running == m_pending.cend())
                break;
            // Another caller builds this answer: wait for it rather than
            // building the same bytes twice.
            const std::shared_ptr<Pending> other = *running;
            m_built.wait(lock, [&other] { return other->done; });
            if (other->answer) {
                ++m_stats.hits;
                return other->answer;
            }
            if (other->error)
                std::rethrow_exception(other->error);
        }
        pending = std::make_shared<Pending>();
        m_pending.insert(key, pending);
        ++m_stats.builds;
    }
    Answer answer;
    std::exception_ptr error;
    try {
        answer = std::make_shared<const EncodedAnswer>(build());
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(m_mutex);
        pending->done = true;
        pending->answer = answer;
        pending->error = error;
        m_pending.remove(key);
        if (answer)
            keep(key, answer);
    }
    m_built.notify_all();
    if (error)
        std::rethrow_exception(error);
    if (built)
        *built = true;
    return answer;
}

void AnswerCache::keep(const QByteArray &key, const Answer &answer)
{
    const qint64 size = sizeOf(key, *answer);
    // One answer may take at most half the bound, so that a single huge read
    // does not empty the cache of everything else.
    if (size > m_maxBytes / 2)
        return;
    while (m_stats.bytes + size > m_maxBytes && !m_order.empty()) {
        const QByteArray oldest = m_order.back();
        m_order.pop_back();
        m_stats.bytes -= m_entries.value(oldest).size;
        m_entries.remove(oldest);
        ++m_stats.evicted;
    }
    m_order.push_front(key);
    m_entries.insert(key, Entry{answer, size, m_order.begin()});
    m_stats.bytes += size;
    m_stats.entries = m_entries.size();
}

AnswerCache::Stats AnswerCache::stats() const
{
    std::lock_guard lock(m_mutex);
    Stats s = m_stats;
    s.entries = m_entries.size();
    return s;
}

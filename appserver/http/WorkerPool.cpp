#include "WorkerPool.h"

#include <algorithm>
#include <exception>

WorkerPool::WorkerPool(int threads, std::size_t maxQueued) : m_maxQueued(maxQueued)
{
    for (int i = 0; i < std::max(1, threads); ++i)
        m_threads.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

bool WorkerPool::submit(Job job, Fault onFault)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= m_maxQueued)
            return false;
        m_queue.push_back(Entry{std::move(job), std::move(onFault)});
    }
    m_cv.notify_one();
    return true;
}

std::size_t WorkerPool::queued() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void WorkerPool::run(Entry &entry)
{
    std::string what;
    try {
        entry.job();
        return;
    } catch (const std::exception &e) {
        what = e.what();
    } catch (...) {
        what = "unknown exception";
    }
    if (!entry.onFault)
        return;
    try {
        entry.onFault(what);
    } catch (...) {
        // A failing fault handler has nobody left to tell.
    }
}

void WorkerPool::work()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_cv.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        Entry entry = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        run(entry);
        entry = Entry{}; // what the job holds is freed outside the lock
        lock.lock();
    }
}

#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A fixed set of threads that run requests: the database connections (one
// per thread) and the processor use stay bounded however many clients are
// connected, and at most `maxQueued` jobs wait. Whatever a job throws is
// caught here and handed to the job's fault handler, so one bad request
// cannot end the process.
class WorkerPool
{
public:
    using Job = std::function<void()>;
    using Fault = std::function<void(const std::string &what)>;

    WorkerPool(int threads, std::size_t maxQueued);
    // Runs what is queued, then joins.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // False (nothing queued) when maxQueued jobs already wait.
    bool submit(Job job, Fault onFault);
    std::size_t queued() const;

private:
    struct Entry
    {
        Job job;
        Fault onFault;
    };
    void work();
    static void run(Entry &entry);

    const std::size_t m_maxQueued;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Entry> m_queue;
    std::vector<std::thread> m_threads;
    bool m_stop = false;
};

#include "WorkerPool.h"

#include "Log.h"

#include <algorithm>

namespace halcyra {

WorkerPool::WorkerPool(RunLoop& loop, unsigned threadCount)
    : m_loop(loop)
{
    for (unsigned index = 0; index < std::max(threadCount, 1u); ++index)
        m_threads.emplace_back([this] { serve(); });
}

unsigned WorkerPool::coreCount(unsigned maximum)
{
    // Zero when the machine does not say.
    return std::clamp(std::thread::hardware_concurrency(), 1u, std::max(maximum, 1u));
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(m_lock);
        m_isStopping = true;
        m_queue.clear();
    }
    m_workArrived.notify_all();
    for (auto& thread : m_threads)
        thread.join();
}

void WorkerPool::submit(std::function<void()> job)
{
    {
        std::lock_guard lock(m_lock);
        m_queue.push_back(std::move(job));
    }
    m_workArrived.notify_one();
}

void WorkerPool::serve()
{
    while (true) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_lock);
            m_workArrived.wait(lock, [this] { return m_isStopping || !m_queue.empty(); });
            if (m_isStopping)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // The job hands its own failures to its task; this catches only a failure to hand
        // anything over (no memory left to post the answer), which leaves that task waiting but
        // the application up.
        try {
            job();
        } catch (...) {
            logError("[App] background work could not hand over its result");
        }
    }
}

}

#include "VirtualRunLoop.h"

namespace halcyra {

VirtualRunLoop::VirtualRunLoop()
    // A fixed, realistic starting point keeps stored wall times readable in failures.
    : m_now(std::chrono::hours(1000))
    , m_wallNow(wallTimeFromSecondsSince1970(1.8e9))
{
}

RunLoop::TimerID VirtualRunLoop::schedule(Seconds delay, std::function<void()> callback)
{
    auto id = m_nextID++;
    auto deadline = m_now + std::chrono::duration_cast<MonotonicTime::duration>(std::max(delay, Seconds(0)));
    m_timers.emplace(Key { deadline, id }, std::move(callback));
    return id;
}

void VirtualRunLoop::cancel(TimerID id)
{
    std::erase_if(m_timers, [id](auto& timer) { return timer.first.second == id; });
}

void VirtualRunLoop::post(std::function<void()> callback)
{
    std::lock_guard lock(m_postedLock);
    m_posted.push_back(std::move(callback));
    m_postedArrived.notify_all();
}

bool VirtualRunLoop::runPosted()
{
    bool hasRun = false;
    while (true) {
        std::function<void()> callback;
        {
            std::lock_guard lock(m_postedLock);
            if (m_posted.empty())
                return hasRun;
            callback = std::move(m_posted.front());
            m_posted.pop_front();
        }
        callback();
        hasRun = true;
    }
}

bool VirtualRunLoop::runPostedWork()
{
    {
        std::unique_lock lock(m_postedLock);
        if (!m_postedArrived.wait_for(lock, std::chrono::seconds(10), [this] { return !m_posted.empty(); }))
            return false;
    }
    runUntilIdle();
    return true;
}

void VirtualRunLoop::advance(Seconds span)
{
    auto target = m_now + std::chrono::duration_cast<MonotonicTime::duration>(span);
    while (true) {
        runPosted();
        if (m_timers.empty() || m_timers.begin()->first.first > target)
            break;
        auto node = m_timers.extract(m_timers.begin());
        m_wallNow += std::chrono::duration_cast<WallTime::duration>(node.key().first - m_now);
        m_now = node.key().first;
        node.mapped()();
    }
    m_wallNow += std::chrono::duration_cast<WallTime::duration>(target - m_now);
    m_now = target;
}

}

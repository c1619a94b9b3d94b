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
    m_deadlines.emplace(id, deadline);
    return id;
}

void VirtualRunLoop::cancel(TimerID id)
{
    auto found = m_deadlines.find(id);
    if (found == m_deadlines.end())
        return;
    m_timers.erase(Key { found->second, id });
    m_deadlines.erase(found);
}

void VirtualRunLoop::advance(Seconds span)
{
    auto target = m_now + std::chrono::duration_cast<MonotonicTime::duration>(span);
    while (!m_timers.empty() && m_timers.begin()->first.first <= target) {
        auto node = m_timers.extract(m_timers.begin());
        m_deadlines.erase(node.key().second);
        m_wallNow += std::chrono::duration_cast<WallTime::duration>(node.key().first - m_now);
        m_now = node.key().first;
        node.mapped()();
    }
    m_wallNow += std::chrono::duration_cast<WallTime::duration>(target - m_now);
    m_now = target;
}

}

#pragma once

#include "base/RunLoop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace halcyra {

// A run loop whose clock moves only when the test says so: `advance(180s)` runs every timer due
// in that span, in deadline order (equal deadlines in scheduling order), at its own deadline.
// Posted work, from any thread, runs before the next timer.
class VirtualRunLoop final : public RunLoop {
public:
    VirtualRunLoop();

    MonotonicTime now() const override { return m_now; }
    WallTime wallNow() const override { return m_wallNow; }
    TimerID schedule(Seconds delay, std::function<void()> callback) override;
    void cancel(TimerID) override;
    void post(std::function<void()> callback) override;

    void advance(Seconds);
    // Runs what is due now (posted and zero-delay work), without moving the clock.
    void runUntilIdle() { advance(Seconds(0)); }
    // Blocks until another thread posts work, then runs what is due; false when nothing came.
    bool runPostedWork();
    size_t pendingTimerCount() const { return m_timers.size(); }

private:
    using Key = std::pair<MonotonicTime, TimerID>;

    bool runPosted();

    MonotonicTime m_now;
    WallTime m_wallNow;
    TimerID m_nextID { 1 };
    std::map<Key, std::function<void()>> m_timers;

    std::mutex m_postedLock;
    std::condition_variable m_postedArrived;
    std::deque<std::function<void()>> m_posted;
};

}

#pragma once

#include "base/RunLoop.h"

#include <glib.h>
#include <unordered_map>

namespace halcyra {

// The application's run loop: timers are GLib sources on the default main context, measured on
// GLib's monotonic clock. Posts from other threads wake that context.
class GLibRunLoop final : public RunLoop {
public:
    GLibRunLoop() = default;
    ~GLibRunLoop() override;

    MonotonicTime now() const override;
    WallTime wallNow() const override;
    TimerID schedule(Seconds delay, std::function<void()> callback) override;
    void cancel(TimerID) override;
    void post(std::function<void()> callback) override;

private:
    struct Timer;
    static gboolean fire(gpointer);

    TimerID m_nextID { 1 };
    // Our own identifiers: GLib reuses source ids, so a stale cancel must not hit a new timer.
    std::unordered_map<TimerID, guint> m_sources;
};

}

#include "platform/glib/GLibRunLoop.h"

#include "platform/glib/GRefPtr.h"

#include <algorithm>
#include <cmath>

namespace halcyra {

struct GLibRunLoop::Timer {
    GLibRunLoop* loop;
    TimerID id;
    std::function<void()> callback;
};

GLibRunLoop::~GLibRunLoop()
{
    for (auto& [id, source] : m_sources)
        g_source_remove(source);
}

MonotonicTime GLibRunLoop::now() const
{
    // g_get_monotonic_time and steady_clock both read CLOCK_MONOTONIC on Linux.
    return std::chrono::steady_clock::now();
}

WallTime GLibRunLoop::wallNow() const
{
    return std::chrono::system_clock::now();
}

RunLoop::TimerID GLibRunLoop::schedule(Seconds delay, std::function<void()> callback)
{
    auto id = m_nextID++;
    auto milliseconds = static_cast<guint>(std::clamp(std::ceil(delay.count() * 1000), 0.0, 4.0e9));
    auto* timer = new Timer { this, id, std::move(callback) };
    auto source = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, fire, timer, [](gpointer data) {
        delete static_cast<Timer*>(data);
    });
    m_sources.emplace(id, source);
    return id;
}

void GLibRunLoop::cancel(TimerID id)
{
    auto found = m_sources.find(id);
    if (found == m_sources.end())
        return;
    g_source_remove(found->second);
    m_sources.erase(found);
}

void GLibRunLoop::post(std::function<void()> callback)
{
    // An idle source attached from any thread; unlike g_main_context_invoke it never runs the
    // callback inside the caller, even on the loop's own thread.
    auto source = adoptGRef(g_idle_source_new());
    g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source.get(),
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(callback)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source.get(), nullptr);
}

gboolean GLibRunLoop::fire(gpointer data)
{
    auto* timer = static_cast<Timer*>(data);
    timer->loop->m_sources.erase(timer->id);
    // The callback may schedule or cancel other timers; it runs after the bookkeeping.
    auto callback = std::move(timer->callback);
    callback();
    return G_SOURCE_REMOVE;
}

}

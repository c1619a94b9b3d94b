#pragma once

#include <chrono>
#include <functional>
#include <glib.h>

namespace halcyra {

// Runs the default main context until `condition` holds or `limit` passes (a limit, not a
// measured duration); gives whether the condition held. For tests that wait on real services
// or real pages; application timers run on the virtual clock instead.
inline bool runMainLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Wakes the loop at least every 10 ms, so that the deadline is checked even when nothing comes.
        auto* tick = g_timeout_source_new(10);
        g_source_set_callback(
            tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(tick, nullptr);
        g_main_context_iteration(nullptr, TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
    }
    return true;
}

}

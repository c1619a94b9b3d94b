#pragma once

#include <chrono>
#include <functional>
#include <glib.h>

namespace halcyra {

// Engine tests wait for real pages: the main loop runs until the condition holds or the time
// limit passes (a limit, not a measured duration). Gives whether the condition held.
inline bool runMainLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    auto deadline = g_get_monotonic_time() + std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
    while (!condition()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
    return true;
}

inline void runMainLoopFor(std::chrono::milliseconds span)
{
    runMainLoopUntil([] { return false; }, span);
}

}

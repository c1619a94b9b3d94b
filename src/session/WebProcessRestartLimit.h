#pragma once

#include "base/Time.h"

#include <deque>

namespace halcyra {

// How often the page may be brought back after its web process ended (a crash, or the
// out-of-memory killer). A process that keeps ending would otherwise be relaunched forever, with
// the machine's memory and the user's patience: the third end within five minutes stops the
// reloading until a page loads again (the one saying so, or the next the user asks for).
class WebProcessRestartLimit {
public:
    static constexpr int maximumEnds = 3;
    static constexpr Seconds window { 300 };

    // `stayStopped`: the reloading stopped and not even a page since has loaded, so the engine
    // cannot run here at all (its graphics or its sandbox fail). Another load would start a
    // process that ends at once, several times a second.
    enum class Decision { reload,
        stop,
        stayStopped };

    // Records an end of the process at `now` and says what to do about it.
    Decision noteEnd(MonotonicTime now);
    // A page finished loading.
    void notePageLoaded() { m_isStopped = false; }

private:
    // The ends within the last five minutes, oldest first.
    std::deque<MonotonicTime> m_recentEnds;
    bool m_isStopped { false };
};

}

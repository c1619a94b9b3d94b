#pragma once

#include "base/Time.h"

#include <deque>

namespace halcyra {

// How often the page may be brought back after its web process ended (a crash, or the
// out-of-memory killer). A process that keeps ending would otherwise be relaunched forever, with
// the machine's memory and the user's patience: the third end within five minutes stops the
// reloading until the user asks for it.
class WebProcessRestartLimit {
public:
    static constexpr int maximumEnds = 3;
    static constexpr Seconds window { 300 };

    enum class Decision { reload,
        stop };

    // Records an end of the process at `now` and says what to do about it.
    Decision noteEnd(MonotonicTime now);

private:
    // The ends within the last five minutes, oldest first.
    std::deque<MonotonicTime> m_recentEnds;
};

}

#pragma once

#include "base/Signal.h"

#include <functional>

namespace halcyra {

// Tells whether the network path is usable. Observers get the current status soon after they
// connect (on the run loop, never inside `observe`) and every change after that.
class NetworkPathMonitor {
public:
    virtual ~NetworkPathMonitor() = default;
    [[nodiscard]] virtual Connection observe(std::function<void(bool isSatisfied)>) = 0;
};

// One event each time the machine wakes from sleep.
class WakeMonitor {
public:
    virtual ~WakeMonitor() = default;
    [[nodiscard]] virtual Connection observe(std::function<void()>) = 0;
};

}

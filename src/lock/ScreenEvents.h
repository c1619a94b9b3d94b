#pragma once

#include "base/Signal.h"

#include <functional>

namespace halcyra {

enum class ScreenEvent {
    // The machine is about to sleep or the screens went dark.
    screensSlept,
    screensWoke,
    // The desktop session was locked.
    screenLocked,
};

class ScreenEventSource {
public:
    virtual ~ScreenEventSource() = default;
    [[nodiscard]] virtual Connection observe(std::function<void(ScreenEvent)>) = 0;
};

}

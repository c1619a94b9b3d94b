#pragma once

#include "base/Signal.h"
#include "base/Time.h"

#include <functional>
#include <optional>

namespace halcyra {

// Input that counts as the user being present.
enum class ActivityKind {
    keyPress,
    pointerClick,
    modifierChange,
    scroll,
    pointerMotion,
};

// Input in this application's windows.
class ActivitySource {
public:
    virtual ~ActivitySource() = default;
    [[nodiscard]] virtual Connection observe(std::function<void(ActivityKind)>) = 0;
};

// How long the whole desktop session has been without input, other applications included.
// Answers on the main loop; no answer (std::nullopt) when the session does not tell.
class SessionIdleTime {
public:
    virtual ~SessionIdleTime() = default;
    virtual void query(std::function<void(std::optional<Seconds>)>) = 0;
};

}

#pragma once

#include "base/Time.h"
#include "session/CountsPoller.h"

#include <cstdint>
#include <optional>
#include <string>

namespace halcyra {

// What the counts poller knows at one moment, handed to everything that shows or shares it (the
// toolbar, the launcher badge, the counts on D-Bus, the counts sync, the new-task notification).
// A count is absent until it was read.
struct CountsReading {
    // Where the counts as of `lastUpdated` were read.
    enum class Origin { thisMachine,
        anotherMachine };

    std::optional<std::int64_t> task {};
    std::optional<std::int64_t> notification {};
    std::optional<std::int64_t> prepaid {};
    std::optional<std::int64_t> draft {};
    // The end of the last complete reading: all four counts read in one cycle here, or adopted
    // from another machine.
    std::optional<WallTime> lastUpdated {};
    Origin origin { Origin::thisMachine };
    PollState state { PollState::idle() };
    // What the window subtitle says when it does not tell the age of the last update; marked for
    // translation, translated where it is shown.
    std::string statusText {};
    bool isBusy { false };
    // The pages the count bubbles lead to.
    std::optional<std::string> taskURL {};
    std::optional<std::string> notificationURL {};
    std::optional<std::string> prepaidURL {};
    std::optional<std::string> reportsURL {};

    bool hasAllCounts() const { return task && notification && prepaid && draft; }
    bool operator==(const CountsReading&) const = default;
};

}

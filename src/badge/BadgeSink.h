#pragma once

#include <cstdint>
#include <optional>

namespace halcyra {

// Where the application's badge number goes (the launcher icon).
class BadgeSink {
public:
    virtual ~BadgeSink() = default;
    // A count of 1 or more to show, or nothing for no badge at all.
    virtual void setBadgeCount(std::optional<std::int64_t>) = 0;
};

}

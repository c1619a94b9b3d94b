#pragma once

#include "base/Time.h"

#include <cstdint>

namespace halcyra {

// One complete reading of the four counts, as shared between the user's machines. A reading
// with any count missing is never made into a record.
struct SyncedCounts {
    std::int64_t task { 0 };
    std::int64_t notification { 0 };
    std::int64_t prepaid { 0 };
    std::int64_t draft { 0 };
    // When the poller of the machine that made the reading finished it.
    WallTime observedAt;

    bool operator==(const SyncedCounts&) const = default;
};

}

#pragma once

#include "SyncedCounts.h"
#include "base/Time.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace halcyra {

// "2026-12-05T12:00:00.000Z": RFC 3339 in UTC with milliseconds.
std::string rfc3339String(WallTime);
// Any RFC 3339 time, with or without a fraction of a second, with "Z" or a numeric offset.
std::optional<WallTime> parseRFC3339(std::string_view);
// "2026-12-05 12:00:00 +0000", as dates are written in the logs.
std::string logDateDescription(WallTime);

// The record's fields on the server: the four counts as integers, "observedAt" as RFC 3339.
nlohmann::ordered_json recordFields(const SyncedCounts&);
// Absent when any field is missing or of another type: never a partial reading.
std::optional<SyncedCounts> syncedCountsFromRecordFields(const nlohmann::ordered_json&);

// The stored form: the four counts and "observedAt" as seconds since 2001-01-01 00:00:00 UTC.
nlohmann::json storedCounts(const SyncedCounts&);
std::optional<SyncedCounts> syncedCountsFromStored(const std::optional<nlohmann::json>&);

}

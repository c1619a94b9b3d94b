#pragma once

#include "SyncRecord.h"

#include <optional>
#include <string>

namespace halcyra {

inline constexpr const char* syncErrorDomain = "HalcyraSyncErrorDomain";

// Error codes of the sync engine. The record-level ones keep the values the counts sync's rules
// are written against (11, 14, 26), so that logs read the same on every machine.
enum class SyncErrorCode : long {
    internalError = 1,
    networkFailure = 4,
    serviceUnavailable = 6,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,
    serverRecordChanged = 14,
    serverRejectedRequest = 15,
    zoneNotFound = 26,
    limitExceeded = 27,
};

struct SyncError {
    SyncErrorCode code { SyncErrorCode::internalError };
    // With serverRecordChanged: the server's current copy, when it could be read.
    std::optional<SyncRecord> serverRecord;

    long numericCode() const { return static_cast<long>(code); }
};

// "domain (code)", as every error is written in the logs.
std::string errorSummary(const SyncError&);

}

#pragma once

#include "WebEngine.h"

namespace halcyra {

// The URL-loading error domain and the codes the session rules name. Engine adapters report
// network failures in these terms.
inline constexpr const char* urlErrorDomain = "NSURLErrorDomain";
inline constexpr long urlErrorCancelled = -999;
inline constexpr long urlErrorTimedOut = -1001;
inline constexpr long urlErrorCannotFindHost = -1003;
inline constexpr long urlErrorCannotConnectToHost = -1004;
inline constexpr long urlErrorNetworkConnectionLost = -1005;
inline constexpr long urlErrorDNSLookupFailed = -1006;
inline constexpr long urlErrorNotConnectedToInternet = -1009;
inline constexpr long urlErrorDataNotAllowed = -1020;

// A failure that means the network is unreachable, so that the load is worth retrying later.
inline bool isOfflineError(const WebError& error)
{
    if (error.domain != urlErrorDomain)
        return false;
    switch (error.code) {
    case urlErrorNotConnectedToInternet:
    case urlErrorNetworkConnectionLost:
    case urlErrorTimedOut:
    case urlErrorCannotFindHost:
    case urlErrorCannotConnectToHost:
    case urlErrorDNSLookupFailed:
    case urlErrorDataNotAllowed:
        return true;
    default:
        return false;
    }
}

}

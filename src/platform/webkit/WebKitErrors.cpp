#include "platform/webkit/WebKitErrors.h"

#include "session/OfflineErrors.h"

#include <gio/gio.h>
#include <optional>
#include <webkit/webkit.h>

namespace halcyra {

namespace {

    std::optional<long> urlErrorCode(const GError* error)
    {
        if (error->domain == G_RESOLVER_ERROR)
            return urlErrorCannotFindHost;
        if (error->domain == WEBKIT_NETWORK_ERROR && error->code == WEBKIT_NETWORK_ERROR_CANCELLED)
            return urlErrorCancelled;
        if (error->domain != G_IO_ERROR)
            return std::nullopt;
        switch (error->code) {
        case G_IO_ERROR_CANCELLED:
            return urlErrorCancelled;
        case G_IO_ERROR_TIMED_OUT:
            return urlErrorTimedOut;
        case G_IO_ERROR_NETWORK_UNREACHABLE:
            return urlErrorNotConnectedToInternet;
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_PROXY_FAILED:
        case G_IO_ERROR_PROXY_NOT_ALLOWED:
            return urlErrorCannotConnectToHost;
        case G_IO_ERROR_CONNECTION_CLOSED:
        case G_IO_ERROR_NOT_CONNECTED:
            return urlErrorNetworkConnectionLost;
        default:
            return std::nullopt;
        }
    }

}

WebError webErrorFromGError(const GError* error, const char* failingURI)
{
    WebError result;
    if (failingURI && *failingURI)
        result.failingURL = URL::parse(failingURI);
    if (!error) {
        result.domain = "WebKitErrorDomain";
        return result;
    }
    if (auto code = urlErrorCode(error)) {
        result.domain = urlErrorDomain;
        result.code = *code;
        return result;
    }
    result.domain = g_quark_to_string(error->domain);
    result.code = error->code;
    return result;
}

}

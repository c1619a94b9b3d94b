#pragma once

#include "session/WebEngine.h"

#include <glib.h>

namespace halcyra {

// Translates a load error of the engine. Failures that mean the network is unreachable (name
// resolution, refused or timed-out connections, lost connections, a proxy that refuses to
// connect) are given in the "NSURLErrorDomain" domain with that domain's codes, which the
// recovery rules know; every other error keeps GLib's domain name and code.
WebError webErrorFromGError(const GError*, const char* failingURI);

}

#pragma once

#include "platform/glib/GRefPtr.h"

#include <gio/gio.h>

namespace halcyra {

// Environment variables the application sets for itself alone, such as its choice of renderer.
// The programs it starts for the user (the browser for a link) get the user's environment
// without them. Set before any thread starts.
void setOwnEnvironmentVariable(const char* name, const char* value);

// A launch context for starting another program with the user's environment.
GRefPtr<GAppLaunchContext> launchContextWithoutOwnEnvironment();

}

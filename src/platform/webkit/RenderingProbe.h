#pragma once

#include <optional>
#include <string>

namespace halcyra {

// The name of the EGL driver behind the display the application will open ("swrast" for Mesa's
// CPU rasterizers, "iris", "radeonsi", "nouveau"…), or nothing when EGL cannot tell. Asks in a
// short-lived child process with a display connection of its own, unless the process can open no
// GPU device at all (then "swrast"); call before GTK starts.
std::optional<std::string> probeEGLDriverName();

// Applies the choice before any window or web view exists: the window's renderer is read from
// the environment when the first window is realized.
void applyWindowRendering(bool drawsWindowWithGL);

}

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace halcyra {

// How the window and the pages are drawn. A software GL driver draws on the CPU like plain
// drawing does, but holds window-sized GL buffers in every process that composites: where it is
// the only GL, the window is drawn with cairo and the pages never composite. A real GPU keeps
// both.
struct RenderingChoice {
    bool drawsWindowWithGL { true };
    bool compositesPages { true };
};

// `driverName`: the EGL driver that serves the display, or nothing when it could not be told
// (then the toolkit and the engine keep their own choice).
bool isSoftwareGLDriver(std::string_view driverName);
RenderingChoice chooseRendering(const std::optional<std::string>& driverName);

}

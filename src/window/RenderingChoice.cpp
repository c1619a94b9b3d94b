#include "RenderingChoice.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace halcyra {

bool isSoftwareGLDriver(std::string_view driverName)
{
    // Mesa names its CPU rasterizers (llvmpipe, softpipe) "swrast" or "kms_swrast"; a renderer
    // string may be passed as well.
    std::string lower(driverName);
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::array softwareNames { "swrast", "llvmpipe", "softpipe", "lavapipe", "software rasterizer" };
    return std::ranges::any_of(softwareNames, [&](const char* name) { return lower.find(name) != std::string::npos; });
}

RenderingChoice chooseRendering(const std::optional<std::string>& driverName)
{
    if (driverName && isSoftwareGLDriver(*driverName))
        return { .drawsWindowWithGL = false, .compositesPages = false };
    return {};
}

}

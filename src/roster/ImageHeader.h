#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace halcyra {

// The pixel count an image file declares in its header, read before anything is decoded: a few
// kilobytes can claim gigapixels. Known for JPEG, PNG, TIFF, WebP and BMP; nothing for other
// formats or a header cut short.
std::optional<std::uint64_t> declaredPixelCount(std::string_view bytes);

}

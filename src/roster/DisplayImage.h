#pragma once

#include <cstdint>
#include <vector>

namespace halcyra {

// A decoded photo turned upright: 8-bit RGB, rows packed without padding.
struct DisplayImage {
    int width { 0 };
    int height { 0 };
    std::vector<std::uint8_t> rgb;
};

}

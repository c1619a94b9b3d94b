#pragma once

namespace halcyra {

// A square cut of a photo, relative to the photo so that one value fits both the display image
// and the full-size download. The centre is a fraction of the width and of the height (origin
// upper left, y downwards); the side is a fraction of the shorter side, 0.1 to 1.0.
struct CropRect {
    struct Point {
        double x { 0.5 };
        double y { 0.5 };
        bool operator==(const Point&) const = default;
    };

    Point center;
    double side { 1.0 };

    bool operator==(const CropRect&) const = default;
};

// The largest centred square.
inline constexpr CropRect defaultCrop {};

}

#pragma once

#include "CropRect.h"

namespace halcyra {

// A drag and/or pinch in progress on a framing tile; points in tile coordinates.
struct Manipulation {
    struct Point {
        double x { 0 };
        double y { 0 };
    };

    CropRect startCrop;
    Point startAnchor;
    Point anchor;
    double scale { 1 };
};

// The share of a tile's side that the circular hole spans.
inline constexpr double holeFraction = 0.7;

// The crop a gesture shows while it runs, for a W x H display image in a tile of side T: the
// image point that was under the gesture's start stays under the finger, and a magnification
// above 1 makes the crop smaller. Not clamped: committing clamps.
CropRect gesturePreview(const Manipulation&, double width, double height, double tileSide, double fraction = holeFraction);

// The keyboard and accessibility steps on a framing: 5 % of the side per move, a factor of 1.15
// per zoom.
enum class CropAdjustment {
    zoomIn,
    zoomOut,
    moveUp,
    moveDown,
    moveLeft,
    moveRight,
};
// Nothing changes on an image without pixels; the result is clamped by the session.
CropRect adjustedCrop(CropAdjustment, const CropRect&, double width, double height);

}

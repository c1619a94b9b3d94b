#pragma once

#include "CropRect.h"

#include <optional>
#include <vector>

namespace halcyra {

// A detected box in pixels of the image it was found in, origin upper left.
struct PixelBox {
    double x { 0 };
    double y { 0 };
    double width { 0 };
    double height { 0 };
};

// The rect moved and sized so that its square lies wholly inside a W x H image and is at least a
// tenth of the shorter side. An image without pixels leaves it unchanged.
CropRect clamped(const CropRect&, double width, double height);

// The box with the largest area; among equal areas the first. Nothing for no boxes.
std::optional<PixelBox> largestBox(const std::vector<PixelBox>&);

// The square around a head whose face box is given: the head is taken as 1.5 face heights
// ending at the chin, and fills 80 % of the square.
CropRect faceCrop(const PixelBox& face, double width, double height);

// The square as wide as the narrower side of an upper-body box, from the top of that box.
CropRect bodyCrop(const PixelBox& body, double width, double height);

// The whole-pixel rectangle that a crop cuts out of a W x H image, and the side of the square
// picture made from it (at most 512). Nothing when there is no pixel to cut.
struct CropCut {
    int x { 0 };
    int y { 0 };
    int width { 0 };
    int height { 0 };
    int outputSide { 0 };
};
std::optional<CropCut> cropCut(const CropRect&, int width, int height);

}

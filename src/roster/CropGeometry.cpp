#include "CropGeometry.h"

#include <algorithm>
#include <cmath>

namespace halcyra {

namespace {

    constexpr double minimumSide = 0.1;
    constexpr double maximumSide = 1.0;
    constexpr double headHeightPerFaceHeight = 1.5;
    constexpr double headShareOfSide = 0.8;
    constexpr int maximumOutputSide = 512;

}

CropRect clamped(const CropRect& rect, double width, double height)
{
    auto shorter = std::min(width, height);
    if (!(shorter > 0))
        return rect;
    auto side = rect.side;
    if (!(side > minimumSide))
        side = minimumSide;
    if (side > maximumSide)
        side = maximumSide;
    auto half = shorter * side / 2;
    // A centre that is not a number (a corrupt value from a gesture) lands on the middle.
    auto px = std::isnan(rect.center.x) ? width / 2 : rect.center.x * width;
    auto py = std::isnan(rect.center.y) ? height / 2 : rect.center.y * height;
    px = std::min(std::max(px, half), width - half);
    py = std::min(std::max(py, half), height - half);
    return { { px / width, py / height }, side };
}

std::optional<PixelBox> largestBox(const std::vector<PixelBox>& boxes)
{
    std::optional<PixelBox> largest;
    for (auto& box : boxes) {
        if (!largest || box.width * box.height > largest->width * largest->height)
            largest = box;
    }
    return largest;
}

CropRect faceCrop(const PixelBox& face, double width, double height)
{
    auto headHeight = headHeightPerFaceHeight * face.height;
    auto centerX = face.x + face.width / 2;
    auto centerY = face.y + face.height - headHeight / 2;
    auto side = headHeight / headShareOfSide;
    CropRect proposed { { centerX / width, centerY / height }, side / std::min(width, height) };
    return clamped(proposed, width, height);
}

CropRect bodyCrop(const PixelBox& body, double width, double height)
{
    auto side = std::min(body.width, body.height);
    CropRect proposed { { (body.x + body.width / 2) / width, (body.y + side / 2) / height }, side / std::min(width, height) };
    return clamped(proposed, width, height);
}

std::optional<CropCut> cropCut(const CropRect& rect, int width, int height)
{
    if (width < 1 || height < 1)
        return std::nullopt;
    auto r = clamped(rect, width, height);
    auto sidePixels = r.side * std::min(width, height);
    auto left = r.center.x * width - sidePixels / 2;
    auto top = r.center.y * height - sidePixels / 2;
    // The smallest whole-pixel rectangle holding the square, within the image.
    auto x0 = std::max(0.0, std::floor(left));
    auto y0 = std::max(0.0, std::floor(top));
    auto x1 = std::min(double(width), std::ceil(left + sidePixels));
    auto y1 = std::min(double(height), std::ceil(top + sidePixels));
    if (x1 <= x0 || y1 <= y0)
        return std::nullopt;
    CropCut cut { int(x0), int(y0), int(x1 - x0), int(y1 - y0), 0 };
    cut.outputSide = std::min({ maximumOutputSide, cut.width, cut.height });
    if (cut.outputSide < 1)
        return std::nullopt;
    return cut;
}

}

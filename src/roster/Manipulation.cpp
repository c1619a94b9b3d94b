#include "Manipulation.h"

#include <algorithm>

namespace halcyra {

CropRect gesturePreview(const Manipulation& manipulation, double width, double height, double tileSide, double fraction)
{
    auto m = std::min(width, height);
    if (!(m > 0) || !(tileSide > 0))
        return manipulation.startCrop;
    auto holeDiameter = fraction * tileSide;
    auto c = tileSide / 2;
    auto s0 = manipulation.startCrop.side;
    auto s1 = s0 / std::max(manipulation.scale, 0.01);
    if (!(s1 > 0.1))
        s1 = 0.1;
    if (s1 > 1.0)
        s1 = 1.0;
    auto k0 = holeDiameter / (m * s0);
    auto k1 = holeDiameter / (m * s1);
    auto ix = manipulation.startCrop.center.x * width + (manipulation.startAnchor.x - c) / k0;
    auto iy = manipulation.startCrop.center.y * height + (manipulation.startAnchor.y - c) / k0;
    auto x = ix - (manipulation.anchor.x - c) / k1;
    auto y = iy - (manipulation.anchor.y - c) / k1;
    return { { x / width, y / height }, s1 };
}

CropRect adjustedCrop(CropAdjustment adjustment, const CropRect& crop, double width, double height)
{
    auto m = std::min(width, height);
    if (!(m > 0))
        return crop;
    constexpr double zoomFactor = 1.15;
    constexpr double moveShare = 0.05;
    auto result = crop;
    switch (adjustment) {
    case CropAdjustment::zoomIn:
        result.side = crop.side / zoomFactor;
        break;
    case CropAdjustment::zoomOut:
        result.side = crop.side / 0.8695652173913044;
        break;
    case CropAdjustment::moveUp:
        result.center.y -= moveShare * crop.side * m / height;
        break;
    case CropAdjustment::moveDown:
        result.center.y += moveShare * crop.side * m / height;
        break;
    case CropAdjustment::moveLeft:
        result.center.x -= moveShare * crop.side * m / width;
        break;
    case CropAdjustment::moveRight:
        result.center.x += moveShare * crop.side * m / width;
        break;
    }
    return result;
}

}

#include "PhotoFramer.h"

namespace halcyra {

CropRect detectCrop(PhotoFramer& framer, const DisplayImage& image)
{
    double width = image.width;
    double height = image.height;
    if (auto face = largestBox(framer.faces(image)))
        return faceCrop(*face, width, height);
    if (auto body = largestBox(framer.upperBodies(image)))
        return bodyCrop(*body, width, height);
    return clamped(defaultCrop, width, height);
}

}

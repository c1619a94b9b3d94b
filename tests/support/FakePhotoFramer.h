#pragma once

#include "roster/PhotoFramer.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace halcyra {

// Decodes "image:WxH" and crops to "jpeg(<bytes> <side>)"; anything else is no image. It finds
// the faces and bodies the test gives it. "out of memory" throws std::bad_alloc, as a decoder
// that runs out of memory does.
class FakePhotoFramer final : public PhotoFramer {
public:
    std::optional<DisplayImage> displayImage(std::string_view bytes, std::optional<int>) override
    {
        if (bytes == "out of memory")
            throw std::bad_alloc();
        int width, height;
        if (std::sscanf(std::string(bytes).c_str(), "image:%dx%d", &width, &height) != 2)
            return std::nullopt;
        return DisplayImage { width, height, {} };
    }
    std::vector<PixelBox> faces(const DisplayImage&) override { return faceBoxes; }
    std::vector<PixelBox> upperBodies(const DisplayImage&) override { return bodyBoxes; }
    std::optional<std::string> cropJPEG(std::string_view bytes, const CropRect& rect) override
    {
        if (bytes == "out of memory")
            throw std::bad_alloc();
        if (!bytes.starts_with("image:"))
            return std::nullopt;
        return "jpeg(" + std::string(bytes) + " " + std::to_string(rect.side) + ")";
    }

    std::vector<PixelBox> faceBoxes, bodyBoxes;
};

}

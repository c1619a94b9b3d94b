#pragma once

#include "CropGeometry.h"
#include "CropRect.h"
#include "DisplayImage.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halcyra {

// The image work behind roster photos: decoding, finding faces and people, rendering a crop.
// Every operation is slow and runs on the image workers, several photos at once: each may be
// called from several threads at the same time.
class PhotoFramer {
public:
    static constexpr int displayPixelSize = 800;

    virtual ~PhotoFramer() = default;

    // The photo file decoded and turned upright by its orientation tag, scaled down so that its
    // longer side is at most `maximumPixelSize` (never enlarged). Nothing when it is no image.
    virtual std::optional<DisplayImage> displayImage(std::string_view bytes, std::optional<int> maximumPixelSize) = 0;

    // Face boxes and upper-body boxes in pixels of the image, in the order found. Faces much
    // smaller than one found may be left out: only the largest frames the photo.
    virtual std::vector<PixelBox> faces(const DisplayImage&) = 0;
    virtual std::vector<PixelBox> upperBodies(const DisplayImage&) = 0;

    // A square JPEG of at most 512 pixels (sRGB, quality 85) cut by `rect` from the full-size,
    // upright photo. Nothing when the photo cannot be decoded or the crop rendered.
    virtual std::optional<std::string> cropJPEG(std::string_view bytes, const CropRect&) = 0;
};

// The proposed framing of a decoded photo: on the largest face, else on the largest upper
// body, else the largest centred square.
CropRect detectCrop(PhotoFramer&, const DisplayImage&);

}

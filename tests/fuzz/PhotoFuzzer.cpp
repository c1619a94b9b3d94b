#include "FuzzTarget.h"
#include "platform/vision/OpenCVPhotoFramer.h"

using namespace halcyra;

// A photo as the roster page fetched it, decoded for display and cut as the export does.
HALCYRA_FUZZ_TARGET(photo)
{
    static OpenCVPhotoFramer framer;
    auto image = framer.displayImage(input, 64);
    if (!image)
        return;
    fuzz::check(image->width > 0 && image->height > 0 && image->width <= 64 && image->height <= 64, "a display image has its bounded size");
    fuzz::check(image->rgb.size() == static_cast<size_t>(image->width) * image->height * 3, "a display image holds its pixels");
    framer.cropJPEG(input, CropRect { { 0.3, 0.7 }, 0.5 });
}

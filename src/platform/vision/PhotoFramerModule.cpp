// The entry point of the photo framing module: OpenCV (and the ninety libraries its image codecs
// bring) is loaded only when a roster is exported, not at every launch.
#include "platform/vision/OpenCVPhotoFramer.h"

extern "C" __attribute__((visibility("default"))) halcyra::PhotoFramer* halcyraMakePhotoFramer()
{
    return new halcyra::OpenCVPhotoFramer;
}

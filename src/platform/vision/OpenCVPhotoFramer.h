#pragma once

#include "roster/PhotoFramer.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace halcyra {

// Roster photos on OpenCV: decoding with the EXIF orientation applied, Haar cascades from
// opencv-data for faces (frontal, then profile) and upper bodies, confirmed by an eye cascade
// and, in a colour photo, by skin colour; JPEG encoding. Not for use from two threads at once.
class OpenCVPhotoFramer final : public PhotoFramer {
public:
    static std::filesystem::path defaultCascadeFolder();

    explicit OpenCVPhotoFramer(std::filesystem::path cascadeFolder = defaultCascadeFolder());
    ~OpenCVPhotoFramer();

    std::optional<DisplayImage> displayImage(std::string_view bytes, std::optional<int> maximumPixelSize) override;
    std::vector<PixelBox> faces(const DisplayImage&) override;
    std::vector<PixelBox> upperBodies(const DisplayImage&) override;
    std::optional<std::string> cropJPEG(std::string_view bytes, const CropRect&) override;

private:
    struct Cascades;
    Cascades& cascades();

    std::filesystem::path m_cascadeFolder;
    // One set per thread that detected, freed with the framer (no thread may be using it then);
    // an ended thread's set goes to the next thread given its id.
    std::mutex m_cascadesLock;
    std::map<std::thread::id, std::unique_ptr<Cascades>> m_cascades;
};

}

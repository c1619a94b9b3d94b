#pragma once

#include "roster/PhotoFramer.h"

#include <filesystem>
#include <memory>
#include <mutex>

namespace halcyra {

// The OpenCV photo framer, loaded from its module on first use: measured here, linking OpenCV
// into the application cost every launch about 0.5 s and 23 MB PSS for ninety libraries that
// only a roster export needs. When the module cannot be loaded, each photo is skipped with a
// log line, as an undecodable photo is.
class LoadedPhotoFramer final : public PhotoFramer {
public:
    explicit LoadedPhotoFramer(std::filesystem::path modulePath = defaultModulePath());
    ~LoadedPhotoFramer() override;

    static std::filesystem::path defaultModulePath();

    std::optional<DisplayImage> displayImage(std::string_view bytes, std::optional<int> maximumPixelSize) override;
    std::vector<PixelBox> faces(const DisplayImage&) override;
    std::vector<PixelBox> upperBodies(const DisplayImage&) override;
    std::optional<std::string> cropJPEG(std::string_view bytes, const CropRect&) override;

private:
    PhotoFramer* framer();

    std::filesystem::path m_modulePath;
    std::once_flag m_loaded;
    std::unique_ptr<PhotoFramer> m_framer;
};

}

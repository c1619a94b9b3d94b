#include "platform/vision/LoadedPhotoFramer.h"

#include "base/InstallPrefix.h"
#include "base/Log.h"

#include <dlfcn.h>
#include <system_error>

namespace halcyra {

LoadedPhotoFramer::LoadedPhotoFramer(std::filesystem::path modulePath)
    : m_modulePath(std::move(modulePath))
{
}

// The module stays loaded once it is: its code runs until the framer is gone.
LoadedPhotoFramer::~LoadedPhotoFramer() = default;

std::filesystem::path LoadedPhotoFramer::defaultModulePath()
{
    return installPrefix() / "lib" / "halcyra" / "halcyra-photo-framer.so";
}

PhotoFramer* LoadedPhotoFramer::framer()
{
    std::call_once(m_loaded, [this] {
        void* module = dlopen(m_modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto make = module ? reinterpret_cast<PhotoFramer* (*)()>(dlsym(module, "halcyraMakePhotoFramer")) : nullptr;
        if (!make) {
            const char* reason = dlerror();
            logError("Halcyra: photo framing unavailable: " + m_modulePath.string() + ": " + (reason ? reason : "no entry point"));
            return;
        }
        m_framer.reset(make());
    });
    return m_framer.get();
}

std::optional<DisplayImage> LoadedPhotoFramer::displayImage(std::string_view bytes, std::optional<int> maximumPixelSize)
{
    auto* loaded = framer();
    return loaded ? loaded->displayImage(bytes, maximumPixelSize) : std::nullopt;
}

std::vector<PixelBox> LoadedPhotoFramer::faces(const DisplayImage& image)
{
    auto* loaded = framer();
    return loaded ? loaded->faces(image) : std::vector<PixelBox> {};
}

std::vector<PixelBox> LoadedPhotoFramer::upperBodies(const DisplayImage& image)
{
    auto* loaded = framer();
    return loaded ? loaded->upperBodies(image) : std::vector<PixelBox> {};
}

std::optional<std::string> LoadedPhotoFramer::cropJPEG(std::string_view bytes, const CropRect& rect)
{
    auto* loaded = framer();
    return loaded ? loaded->cropJPEG(bytes, rect) : std::nullopt;
}

}

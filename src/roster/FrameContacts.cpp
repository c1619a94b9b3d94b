#include "FrameContacts.h"

#include "base/Log.h"

namespace halcyra {

namespace {

    struct FramedPhoto {
        std::shared_ptr<const DisplayImage> display;
        CropRect crop;
    };

    CropContact contactWithoutPhoto(const Student& student)
    {
        return { makeContactID(), student, std::nullopt, nullptr, defaultCrop, defaultCrop };
    }

}

Task<std::optional<std::vector<CropContact>>> frameContacts(const std::vector<Student>& students, const PhotoMap& photos, PhotoFramer& framer, WorkerPool& imageWork, std::function<void(const std::string&)> progress)
{
    std::vector<CropContact> contacts;
    contacts.reserve(students.size());
    std::size_t processed = 0;
    for (std::size_t i = 0; i < students.size(); ++i) {
        auto photo = photos.find(i);
        if (photo == photos.end()) {
            contacts.push_back(contactWithoutPhoto(students[i]));
            continue;
        }
        ++processed;
        if (progress)
            progress("Finding faces (" + std::to_string(processed) + " of " + std::to_string(photos.size()) + ")\u2026");
        // The worker keeps its own copy: a cancelled task may drop the map while it still runs.
        auto bytes = std::make_shared<const std::string>(photo->second);
        std::function<std::optional<FramedPhoto>()> frame = [&framer, bytes]() -> std::optional<FramedPhoto> {
            auto display = framer.displayImage(*bytes, PhotoFramer::displayPixelSize);
            if (!display)
                return std::nullopt;
            auto crop = detectCrop(framer, *display);
            return FramedPhoto { std::make_shared<const DisplayImage>(std::move(*display)), crop };
        };
        // Named, not temporary: GCC 12 destroys some temporaries of a co_await expression twice.
        auto framing = imageWork.run(std::move(frame));
        std::optional<std::optional<FramedPhoto>> framed;
        try {
            framed = co_await framing;
        } catch (const std::exception& exception) {
            logVerbose(std::string("[Roster] photo left out: ") + exception.what());
            framed.emplace();
        }
        if (!framed)
            co_return std::nullopt;
        if (!*framed) {
            contacts.push_back(contactWithoutPhoto(students[i]));
            continue;
        }
        auto& result = **framed;
        contacts.push_back({ makeContactID(), students[i], *bytes, result.display, result.crop, result.crop });
    }
    logVerbose("[Roster] framed " + std::to_string(processed) + " photos for " + std::to_string(students.size()) + " students");
    co_return contacts;
}

}

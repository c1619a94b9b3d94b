#include "FrameContacts.h"

#include "base/Log.h"

namespace halcyra {

namespace {

    CropContact contactWithoutPhoto(const Student& student)
    {
        return { makeContactID(), student, std::nullopt, nullptr, defaultCrop, defaultCrop };
    }

}

Task<std::optional<std::vector<CropContact>>> frameContacts(const std::vector<Student>& students, const PhotoMap& photos, PhotoFramings& framings, std::function<void(const std::string&)> progress)
{
    auto end = photos.lower_bound(students.size());
    for (auto photo = photos.begin(); photo != end; ++photo)
        framings.start(photo->first, photo->second);

    std::vector<CropContact> contacts;
    contacts.reserve(students.size());
    std::size_t photoNumber = 0;
    for (std::size_t i = 0; i < students.size(); ++i) {
        auto photo = photos.find(i);
        if (photo == photos.end()) {
            contacts.push_back(contactWithoutPhoto(students[i]));
            continue;
        }
        ++photoNumber;
        if (progress)
            progress("Finding faces (" + std::to_string(photoNumber) + " of " + std::to_string(photos.size()) + ")\u2026");
        // Named, not temporary: GCC 12 destroys some temporaries of a co_await expression twice.
        auto framing = framings.framed(i);
        auto framed = co_await framing;
        if (!framed)
            co_return std::nullopt;
        if (!*framed) {
            contacts.push_back(contactWithoutPhoto(students[i]));
            continue;
        }
        contacts.push_back({ makeContactID(), students[i], photo->second, (*framed)->display, (*framed)->crop, (*framed)->crop });
    }
    logVerbose("[Roster] framed " + std::to_string(photoNumber) + " photos for " + std::to_string(students.size()) + " students");
    co_return contacts;
}

Task<std::optional<std::vector<CropContact>>> frameContacts(const std::vector<Student>& students, const PhotoMap& photos, PhotoFramer& framer, WorkerPool& imageWork, std::function<void(const std::string&)> progress)
{
    PhotoFramings framings(framer, imageWork);
    auto framing = frameContacts(students, photos, framings, std::move(progress));
    auto contacts = co_await std::move(framing);
    co_return contacts;
}

}

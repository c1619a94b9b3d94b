#include "FrameContacts.h"

#include "base/Log.h"

namespace halcyra {

namespace {

    struct FramedPhoto {
        std::shared_ptr<const DisplayImage> display;
        CropRect crop;
    };

    using Framing = WorkerPool::Outcome<std::optional<FramedPhoto>>;

    // The framings the workers handed back that the task has not taken yet, by roster position,
    // and the task's wait for the next one. Shared with the workers' answers, which may arrive
    // after the task is gone.
    struct Arrivals {
        std::map<std::size_t, Framing> framings;
        std::function<void(bool)> wake;
    };

    std::optional<FramedPhoto> photoOrNothing(Framing framing)
    {
        if (auto* photo = std::get_if<std::optional<FramedPhoto>>(&framing))
            return std::move(*photo);
        try {
            std::rethrow_exception(std::get<std::exception_ptr>(framing));
        } catch (const std::exception& exception) {
            logVerbose(std::string("[Roster] photo left out: ") + exception.what());
        }
        return std::nullopt;
    }

    CropContact contactWithoutPhoto(const Student& student)
    {
        return { makeContactID(), student, std::nullopt, nullptr, defaultCrop, defaultCrop };
    }

}

Task<std::optional<std::vector<CropContact>>> frameContacts(const std::vector<Student>& students, const PhotoMap& photos, PhotoFramer& framer, WorkerPool& imageWork, std::function<void(const std::string&)> progress)
{
    auto arrivals = std::make_shared<Arrivals>();
    std::map<std::size_t, std::optional<FramedPhoto>> framed;
    std::size_t started = 0;
    for (auto next = photos.begin(), end = photos.lower_bound(students.size()); next != end || framed.size() < started;) {
        // One photo per worker under way: a slow photo holds up its own worker only.
        for (; next != end && started - framed.size() < imageWork.threadCount(); ++next) {
            ++started;
            if (progress)
                progress("Finding faces (" + std::to_string(started) + " of " + std::to_string(photos.size()) + ")\u2026");
            // The worker keeps its own copy: a cancelled task may drop the map while it still runs.
            auto bytes = std::make_shared<const std::string>(next->second);
            std::function<std::optional<FramedPhoto>()> frame = [&framer, bytes]() -> std::optional<FramedPhoto> {
                auto display = framer.displayImage(*bytes, PhotoFramer::displayPixelSize);
                if (!display)
                    return std::nullopt;
                auto crop = detectCrop(framer, *display);
                return FramedPhoto { std::make_shared<const DisplayImage>(std::move(*display)), crop };
            };
            imageWork.start(std::move(frame), [arrivals, index = next->first](Framing framing) {
                arrivals->framings.emplace(index, std::move(framing));
                if (auto wake = std::exchange(arrivals->wake, nullptr))
                    wake(true);
            });
        }
        // Named, not temporary: GCC 12 destroys some temporaries of a co_await expression twice.
        auto arrival = awaitCallback<bool>([arrivals](std::function<void(bool)> wake) {
            if (arrivals->framings.empty())
                arrivals->wake = std::move(wake);
            else
                wake(true);
        });
        auto hasArrived = co_await arrival;
        if (!hasArrived)
            co_return std::nullopt;
        for (auto& [index, framing] : std::exchange(arrivals->framings, {}))
            framed[index] = photoOrNothing(std::move(framing));
    }

    std::vector<CropContact> contacts;
    contacts.reserve(students.size());
    for (std::size_t i = 0; i < students.size(); ++i) {
        auto photo = framed.find(i);
        if (photo == framed.end() || !photo->second) {
            contacts.push_back(contactWithoutPhoto(students[i]));
            continue;
        }
        auto& result = *photo->second;
        contacts.push_back({ makeContactID(), students[i], photos.at(i), result.display, result.crop, result.crop });
    }
    logVerbose("[Roster] framed " + std::to_string(started) + " photos for " + std::to_string(students.size()) + " students");
    co_return contacts;
}

}

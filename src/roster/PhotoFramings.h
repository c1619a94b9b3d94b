#pragma once

#include "CropRect.h"
#include "DisplayImage.h"
#include "PhotoFramer.h"
#include "base/Task.h"
#include "base/WorkerPool.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace halcyra {

// The decoding and framing of one roster's photos on the image workers, each begun as soon as its
// photo is there: the first photos are framed while the last ones still download. Lives on the
// loop; the workers touch only their own photo. Destroying it drops the photos no worker has
// begun; those under way finish on their workers and their results are dropped.
class PhotoFramings {
public:
    struct FramedPhoto {
        std::shared_ptr<const DisplayImage> display;
        CropRect crop;
    };

    PhotoFramings(PhotoFramer&, WorkerPool& imageWork);
    ~PhotoFramings();
    PhotoFramings(const PhotoFramings&) = delete;
    PhotoFramings& operator=(const PhotoFramings&) = delete;

    // Begins framing the photo of the student at `position`, once per position.
    void start(std::size_t position, std::string photo);

    // The photo at `position` framed, once its worker is done: nothing inside for a photo that is
    // no image, could not be framed or was never started; nothing at all when the task was
    // cancelled. One wait at a time.
    CallbackAwaiter<std::optional<FramedPhoto>> framed(std::size_t position);

private:
    using Framing = WorkerPool::Outcome<std::optional<FramedPhoto>>;

    // The framings the workers handed back that nobody has taken yet, and the one wait for a
    // position. Shared with the workers' answers, which may arrive after this object is gone.
    struct Arrivals {
        std::map<std::size_t, Framing> framings;
        std::size_t awaitedPosition { 0 };
        std::function<void(std::optional<FramedPhoto>)> wake;
    };

    PhotoFramer& m_framer;
    WorkerPool& m_imageWork;
    std::set<std::size_t> m_started;
    std::shared_ptr<Arrivals> m_arrivals;
    std::shared_ptr<std::atomic<bool>> m_isAbandoned;
};

}

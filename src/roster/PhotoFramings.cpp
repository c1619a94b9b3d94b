#include "PhotoFramings.h"

#include "base/Log.h"

namespace halcyra {

namespace {

    std::optional<PhotoFramings::FramedPhoto> photoOrNothing(WorkerPool::Outcome<std::optional<PhotoFramings::FramedPhoto>> framing)
    {
        if (auto* photo = std::get_if<std::optional<PhotoFramings::FramedPhoto>>(&framing))
            return std::move(*photo);
        try {
            std::rethrow_exception(std::get<std::exception_ptr>(framing));
        } catch (const std::exception& exception) {
            logVerbose(std::string("[Roster] photo left out: ") + exception.what());
        }
        return std::nullopt;
    }

}

PhotoFramings::PhotoFramings(PhotoFramer& framer, WorkerPool& imageWork)
    : m_framer(framer)
    , m_imageWork(imageWork)
    , m_arrivals(std::make_shared<Arrivals>())
    , m_isAbandoned(std::make_shared<std::atomic<bool>>(false))
{
}

PhotoFramings::~PhotoFramings()
{
    *m_isAbandoned = true;
    m_arrivals->wake = nullptr;
}

void PhotoFramings::start(std::size_t position, std::string photo)
{
    if (!m_started.insert(position).second)
        return;
    std::function<std::optional<FramedPhoto>()> frame = [&framer = m_framer, photo = std::move(photo), isAbandoned = m_isAbandoned]() -> std::optional<FramedPhoto> {
        if (*isAbandoned)
            return std::nullopt;
        auto display = framer.displayImage(photo, PhotoFramer::displayPixelSize);
        if (!display)
            return std::nullopt;
        auto crop = detectCrop(framer, *display);
        return FramedPhoto { std::make_shared<const DisplayImage>(std::move(*display)), crop };
    };
    m_imageWork.start(std::move(frame), [arrivals = m_arrivals, position](Framing framing) {
        if (arrivals->wake && arrivals->awaitedPosition == position) {
            std::exchange(arrivals->wake, nullptr)(photoOrNothing(std::move(framing)));
            return;
        }
        arrivals->framings.emplace(position, std::move(framing));
    });
}

CallbackAwaiter<std::optional<PhotoFramings::FramedPhoto>> PhotoFramings::framed(std::size_t position)
{
    bool isStarted = m_started.contains(position);
    return awaitCallback<std::optional<FramedPhoto>>([arrivals = m_arrivals, position, isStarted](std::function<void(std::optional<FramedPhoto>)> wake) {
        if (!isStarted) {
            wake(std::nullopt);
            return;
        }
        if (auto arrived = arrivals->framings.extract(position)) {
            wake(photoOrNothing(std::move(arrived.mapped())));
            return;
        }
        arrivals->awaitedPosition = position;
        arrivals->wake = std::move(wake);
    });
}

}

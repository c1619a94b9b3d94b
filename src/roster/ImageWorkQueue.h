#pragma once

#include "base/Task.h"

#include <functional>
#include <memory>
#include <optional>

namespace halcyra {

// Where decoding, detection and encoding run: away from the main loop, one job at a time. The
// completion is called on the main loop once the work has finished. This is the only place
// where roster work crosses threads.
class ImageWorkQueue {
public:
    virtual ~ImageWorkQueue() = default;
    virtual void perform(std::function<void()> work, std::function<void()> completion) = 0;
};

// `co_await onImageWorker(queue, work)` runs `work` on the queue and gives its result back on the
// main loop; nothing when the awaiting task was cancelled meanwhile.
template <typename T>
CallbackAwaiter<T> onImageWorker(ImageWorkQueue& queue, std::function<T()> work)
{
    return awaitCallback<T>([&queue, work = std::move(work)](std::function<void(T)> done) {
        auto result = std::make_shared<std::optional<T>>();
        queue.perform([result, work] { *result = work(); }, [result, done] { done(std::move(**result)); });
    });
}

}

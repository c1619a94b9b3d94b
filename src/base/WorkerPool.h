#pragma once

#include "Task.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace halcyra {

// A few worker threads for work that must not hold up the loop (image decoding, face detection,
// encoding, PAM). Work reaches them only through `run`, and its result comes back to the loop
// only through the loop's post: nothing else crosses threads. Destroying the pool waits for the
// work under way and drops what has not started.
class WorkerPool {
public:
    WorkerPool(RunLoop&, unsigned threadCount = 2);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // `co_await pool.run(work)` runs `work` on a worker and gives its result on the loop, or
    // nothing when the task was cancelled first. The work owns what it uses: it may finish after
    // the task that started it is gone, and its result is then dropped.
    template <typename Work>
    auto run(Work work);

private:
    void submit(std::function<void()>);
    void serve();

    RunLoop& m_loop;
    std::mutex m_lock;
    std::condition_variable m_workArrived;
    std::deque<std::function<void()>> m_queue;
    bool m_isStopping { false };
    std::vector<std::thread> m_threads;
};

template <typename Work>
auto WorkerPool::run(Work work)
{
    using Result = std::invoke_result_t<Work>;
    static_assert(!std::is_void_v<Result>, "work gives a value back to the loop");
    return awaitCallback<Result>([this, work = std::move(work)](std::function<void(Result)> done) mutable {
        // The worker touches only the work and its result; the answer is given on the loop.
        submit([work = std::move(work), done = std::move(done), &loop = m_loop]() mutable {
            loop.post([done = std::move(done), result = work()]() mutable { done(std::move(result)); });
        });
    });
}

}

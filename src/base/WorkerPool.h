#pragma once

#include "Task.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <variant>
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
    // nothing when the task was cancelled first; what the work throws (std::bad_alloc on a
    // decoder's huge allocation) is thrown there, in the awaiting task. The work owns what it
    // uses: it may finish after the task that started it is gone, and its result is then dropped.
    template <typename Work>
    auto run(Work work);

    // What `start` hands over: the work's result, or what it threw.
    template <typename Result>
    using Outcome = std::variant<std::exception_ptr, Result>;

    // Runs `work` on a worker and calls `done` with its outcome on the loop, for a task that
    // keeps several pieces of work under way. As with `run`, the work owns what it uses.
    template <typename Work>
    void start(Work work, std::function<void(Outcome<std::invoke_result_t<Work>>)> done);

    unsigned threadCount() const { return static_cast<unsigned>(m_threads.size()); }

    // The machine's cores, at least one and at most `maximum`: threads for work that keeps a
    // core busy.
    static unsigned coreCount(unsigned maximum);

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

// The awaiter of `WorkerPool::run`: the result, or the work's exception rethrown.
template <typename Result>
class WorkerAwaiter {
public:
    using Outcome = WorkerPool::Outcome<Result>;

    explicit WorkerAwaiter(CallbackAwaiter<Outcome> awaiter)
        : m_awaiter(std::move(awaiter))
    {
    }
    bool await_ready() const noexcept { return false; }
    template <typename Promise>
    bool await_suspend(std::coroutine_handle<Promise> waiting) { return m_awaiter.await_suspend(waiting); }
    std::optional<Result> await_resume()
    {
        auto outcome = m_awaiter.await_resume();
        if (!outcome)
            return std::nullopt;
        if (auto* exception = std::get_if<std::exception_ptr>(&*outcome))
            std::rethrow_exception(*exception);
        return std::move(std::get<Result>(*outcome));
    }

private:
    CallbackAwaiter<Outcome> m_awaiter;
};

template <typename Work>
auto WorkerPool::run(Work work)
{
    using Result = std::invoke_result_t<Work>;
    return WorkerAwaiter<Result>(awaitCallback<Outcome<Result>>([this, work = std::move(work)](std::function<void(Outcome<Result>)> done) mutable {
        start(std::move(work), std::move(done));
    }));
}

template <typename Work>
void WorkerPool::start(Work work, std::function<void(Outcome<std::invoke_result_t<Work>>)> done)
{
    using Result = std::invoke_result_t<Work>;
    static_assert(!std::is_void_v<Result>, "work gives a value back to the loop");
    // The worker touches only the work and its result; the answer is given on the loop.
    submit([work = std::move(work), done = std::move(done), &loop = m_loop]() mutable {
        Outcome<Result> outcome;
        try {
            outcome.template emplace<Result>(work());
        } catch (...) {
            outcome = std::current_exception();
        }
        loop.post([done = std::move(done), outcome = std::move(outcome)]() mutable { done(std::move(outcome)); });
    });
}

}

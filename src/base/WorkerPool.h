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

    template <typename T>
    class Awaiter;

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

template <typename T>
class WorkerPool::Awaiter {
public:
    Awaiter(WorkerPool& pool, std::function<T()> work)
        : m_pool(pool)
        , m_work(std::move(work))
        , m_state(std::make_shared<State>())
    {
    }
    Awaiter(Awaiter&&) = default;
    ~Awaiter()
    {
        if (m_state)
            m_state->isWithdrawn = true;
    }

    bool await_ready() const noexcept { return false; }

    template <typename Promise>
    bool await_suspend(std::coroutine_handle<Promise> waiting)
    {
        auto start = detail::admitWait(waiting);
        if (start != TaskState::WaitStart::suspend)
            return start == TaskState::WaitStart::endTask;
        m_state->task = waiting.promise().state.get();
        m_state->task->beginWait(waiting, [state = m_state] {
            state->isWithdrawn = true;
            state->task = nullptr;
        });
        // The worker touches only the work and its own result; the state is read on the loop.
        m_pool.submit([work = std::move(m_work), state = m_state, &loop = m_pool.m_loop]() mutable {
            loop.post([state, result = work()]() mutable {
                if (state->isWithdrawn)
                    return;
                state->result = std::move(result);
                if (auto* task = std::exchange(state->task, nullptr))
                    task->finishWait();
            });
        });
        return true;
    }

    std::optional<T> await_resume() { return std::move(m_state->result); }

private:
    struct State {
        bool isWithdrawn { false };
        std::optional<T> result;
        TaskState* task { nullptr };
    };

    WorkerPool& m_pool;
    std::function<T()> m_work;
    std::shared_ptr<State> m_state;
};

template <typename Work>
auto WorkerPool::run(Work work)
{
    using Result = std::invoke_result_t<Work>;
    static_assert(!std::is_void_v<Result>, "work gives a value back to the loop");
    return Awaiter<Result>(*this, std::function<Result()>(std::move(work)));
}

}

#pragma once

#include "RunLoop.h"

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace halcyra {

// What a spawned task and every task it awaits share: the outermost coroutine frame, whether the
// task was cancelled, and the one wait it is suspended in.
//
// Cancelling never runs the task's code inside the canceller: the wait under way is withdrawn
// and the task resumes later, from the loop, with an absent result. A cancelled task is told so
// once (by that wait, or by the next wait it begins); a wait it begins after that is never
// answered and the loop destroys the task instead, so that a loop of cancelled sleeps cannot
// spin. Destroying a task's frames (see TaskGroup) never resumes them.
class TaskState : public std::enable_shared_from_this<TaskState> {
public:
    explicit TaskState(RunLoop& loop)
        : m_loop(loop)
    {
    }
    TaskState(const TaskState&) = delete;
    TaskState& operator=(const TaskState&) = delete;

    RunLoop& loop() const { return m_loop; }
    bool isCancelled() const { return m_isCancelled; }
    bool isFinished() const { return m_hasStarted && !m_root; }

    void cancel()
    {
        if (m_isCancelled)
            return;
        m_isCancelled = true;
        if (!m_waiting)
            return;
        m_hasToldCancellation = true;
        if (auto withdraw = std::exchange(m_withdrawWait, nullptr))
            withdraw();
        m_loop.post([weakState = weak_from_this()] {
            auto state = weakState.lock();
            if (state && state->m_root && state->m_waiting)
                state->resume(std::exchange(state->m_waiting, nullptr));
        });
    }

    // Ends the task without running any more of its code. A task that is running right now
    // (it destroyed its own owner) ends at its next wait.
    void destroy()
    {
        m_isCancelled = true;
        m_hasToldCancellation = true;
        if (m_runningDepth) {
            m_isOrphaned = true;
            return;
        }
        m_waiting = nullptr;
        m_withdrawWait = nullptr;
        if (auto root = std::exchange(m_root, nullptr))
            root.destroy();
    }

    enum class WaitStart { suspend,
        endWithoutResult,
        endTask };

    // Called by a wait before it starts its operation.
    WaitStart admitWait()
    {
        if (!m_isCancelled)
            return WaitStart::suspend;
        if (!m_hasToldCancellation && !m_isOrphaned) {
            m_hasToldCancellation = true;
            return WaitStart::endWithoutResult;
        }
        m_loop.post([weakState = weak_from_this()] {
            if (auto state = weakState.lock(); state && !state->m_runningDepth)
                state->destroy();
        });
        return WaitStart::endTask;
    }

    // The wait under way; `withdraw` stops its operation so that it never answers.
    void beginWait(std::coroutine_handle<> waiting, std::function<void()> withdraw)
    {
        m_waiting = waiting;
        m_withdrawWait = std::move(withdraw);
    }

    // The wait's operation answered: the task goes on now, on the loop.
    void finishWait()
    {
        m_withdrawWait = nullptr;
        if (auto waiting = std::exchange(m_waiting, nullptr))
            resume(waiting);
    }

    void resume(std::coroutine_handle<> handle)
    {
        auto protectedState = shared_from_this();
        ++m_runningDepth;
        handle.resume();
        --m_runningDepth;
    }

    void start(std::coroutine_handle<> root)
    {
        m_root = root;
        m_hasStarted = true;
        resume(root);
    }
    void rootDidEnd() { m_root = nullptr; }

private:
    RunLoop& m_loop;
    std::coroutine_handle<> m_root;
    std::coroutine_handle<> m_waiting;
    std::function<void()> m_withdrawWait;
    int m_runningDepth { 0 };
    bool m_hasStarted { false };
    bool m_isCancelled { false };
    bool m_hasToldCancellation { false };
    bool m_isOrphaned { false };
};

namespace detail {

    struct TaskPromiseBase {
        std::shared_ptr<TaskState> state;
        std::coroutine_handle<> continuation;
        std::exception_ptr exception;

        std::suspend_always initial_suspend() noexcept { return {}; }

        struct FinalAwaiter {
            bool await_ready() noexcept { return false; }
            template <typename Promise>
            std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> handle) noexcept
            {
                if (auto continuation = handle.promise().continuation)
                    return continuation;
                return std::noop_coroutine();
            }
            void await_resume() noexcept { }
        };
        FinalAwaiter final_suspend() noexcept { return {}; }

        void unhandled_exception() { exception = std::current_exception(); }
    };

    template <typename T>
    struct TaskPromise : TaskPromiseBase {
        std::optional<T> value;
        void return_value(T result) { value = std::move(result); }
        T takeResult()
        {
            if (exception)
                std::rethrow_exception(exception);
            return std::move(*value);
        }
    };

    template <>
    struct TaskPromise<void> : TaskPromiseBase {
        void return_void() { }
        void takeResult()
        {
            if (exception)
                std::rethrow_exception(exception);
        }
    };

}

// A lazily started coroutine. `co_await` runs it to completion inside the awaiting task (and
// shares that task's cancellation); `spawn` runs it on its own. Destroying a suspended task
// destroys the tasks it awaits and withdraws their waits.
template <typename T = void>
class [[nodiscard]] Task {
public:
    struct promise_type : detail::TaskPromise<T> {
        Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
    };

    Task(Task&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr))
    {
    }
    Task& operator=(Task&& other) noexcept
    {
        if (this != &other) {
            if (m_handle)
                m_handle.destroy();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task()
    {
        if (m_handle)
            m_handle.destroy();
    }

    bool await_ready() const noexcept { return false; }

    template <typename Promise>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> awaiting) noexcept
    {
        m_handle.promise().state = awaiting.promise().state;
        m_handle.promise().continuation = awaiting;
        return m_handle;
    }

    T await_resume() { return m_handle.promise().takeResult(); }

private:
    explicit Task(std::coroutine_handle<promise_type> handle)
        : m_handle(handle)
    {
    }

    std::coroutine_handle<promise_type> m_handle;
};

// The handle of a spawned task. Dropping it does not stop the task.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<TaskState> state)
        : m_state(std::move(state))
    {
    }

    void cancel() const
    {
        if (m_state)
            m_state->cancel();
    }
    bool isCancelled() const { return m_state && m_state->isCancelled(); }
    bool isFinished() const { return !m_state || m_state->isFinished(); }

    // Ends the task without resuming it; for the task's owner as it goes away.
    void destroy() const
    {
        if (m_state)
            m_state->destroy();
    }

private:
    std::shared_ptr<TaskState> m_state;
};

namespace detail {

    struct DetachedTask {
        struct promise_type {
            std::shared_ptr<TaskState> state;
            DetachedTask get_return_object() { return { std::coroutine_handle<promise_type>::from_promise(*this) }; }
            std::suspend_always initial_suspend() noexcept { return {}; }
            std::suspend_never final_suspend() noexcept { return {}; }
            void return_void() { }
            // A spawned task has nobody to report to; letting an exception escape is a bug.
            void unhandled_exception() noexcept { std::terminate(); }
            ~promise_type()
            {
                if (state)
                    state->rootDidEnd();
            }
        };
        std::coroutine_handle<promise_type> handle;
    };

    inline DetachedTask runDetached(Task<void> task)
    {
        co_await std::move(task);
    }

    // The start of every wait: gives whether to suspend, and the state to report to.
    template <typename Promise>
    TaskState::WaitStart admitWait(std::coroutine_handle<Promise> waiting)
    {
        return waiting.promise().state->admitWait();
    }

}

// Starts `task` at once; it runs until its first wait and then on `loop`. A task spawned this
// way, outside a TaskGroup, must hold alive whatever it touches after a wait.
inline TaskHandle spawn(RunLoop& loop, Task<void> task)
{
    auto state = std::make_shared<TaskState>(loop);
    auto detached = detail::runDetached(std::move(task));
    detached.handle.promise().state = state;
    state->start(detached.handle);
    return TaskHandle(std::move(state));
}

// `co_await sleep(loop, delay)` gives true when the delay passed, false when the task was
// cancelled. Store the result before testing it: GCC 12 reads an uninitialised value for
// `if (co_await sleep(...))` (seen under valgrind).
class SleepAwaiter {
public:
    SleepAwaiter(RunLoop& loop, Seconds delay)
        : m_loop(loop)
        , m_delay(delay)
    {
    }
    SleepAwaiter(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(const SleepAwaiter&) = delete;
    ~SleepAwaiter() { withdraw(); }

    bool await_ready() const noexcept { return false; }

    template <typename Promise>
    bool await_suspend(std::coroutine_handle<Promise> waiting)
    {
        auto start = detail::admitWait(waiting);
        if (start != TaskState::WaitStart::suspend)
            return start == TaskState::WaitStart::endTask;
        auto* state = waiting.promise().state.get();
        m_timer = m_loop.schedule(m_delay, [this, state] {
            m_timer.reset();
            m_hasElapsed = true;
            state->finishWait();
        });
        state->beginWait(waiting, [this] { withdraw(); });
        return true;
    }

    bool await_resume() const noexcept { return m_hasElapsed; }

private:
    void withdraw()
    {
        if (auto timer = std::exchange(m_timer, std::nullopt))
            m_loop.cancel(*timer);
    }

    RunLoop& m_loop;
    Seconds m_delay;
    std::optional<RunLoop::TimerID> m_timer;
    bool m_hasElapsed { false };
};

inline SleepAwaiter sleep(RunLoop& loop, Seconds delay)
{
    return SleepAwaiter(loop, delay);
}

// Awaits a callback-style operation: `start` receives a completion function to call once, on
// the loop, with the result. Gives the result, or nothing when the task was cancelled first; a
// completion that arrives after cancellation, or after the task is gone, is dropped.
template <typename T>
class CallbackAwaiter {
public:
    using Start = std::function<void(std::function<void(T)>)>;

    explicit CallbackAwaiter(Start start)
        : m_start(std::move(start))
        , m_state(std::make_shared<State>())
    {
    }
    CallbackAwaiter(CallbackAwaiter&&) = default;
    ~CallbackAwaiter()
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
        m_start([state = m_state](T result) {
            if (state->isWithdrawn || state->result)
                return;
            state->result = std::move(result);
            if (auto* task = std::exchange(state->task, nullptr))
                task->finishWait();
        });
        if (m_state->result || m_state->isWithdrawn)
            return false;
        m_state->task = waiting.promise().state.get();
        m_state->task->beginWait(waiting, [state = m_state] {
            state->isWithdrawn = true;
            state->task = nullptr;
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

    Start m_start;
    std::shared_ptr<State> m_state;
};

template <typename T>
CallbackAwaiter<T> awaitCallback(typename CallbackAwaiter<T>::Start start)
{
    return CallbackAwaiter<T>(std::move(start));
}

}

#pragma once

#include "RunLoop.h"

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace halcyra {

// Shared by a spawned task and every task it awaits. The one suspension point that is waiting
// at a time registers a hook that wakes it early when the task is cancelled.
class Cancellation {
public:
    bool isCancelled() const { return m_isCancelled; }

    void cancel()
    {
        if (m_isCancelled)
            return;
        m_isCancelled = true;
        if (auto hook = std::exchange(m_wakeHook, nullptr))
            hook();
    }

    void setWakeHook(std::function<void()> hook) { m_wakeHook = std::move(hook); }
    void clearWakeHook() { m_wakeHook = nullptr; }

private:
    bool m_isCancelled { false };
    std::function<void()> m_wakeHook;
};

namespace detail {

    struct TaskPromiseBase {
        std::shared_ptr<Cancellation> cancellation;
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
// shares that task's cancellation); `spawn` runs it on its own.
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
        m_handle.promise().cancellation = awaiting.promise().cancellation;
        m_handle.promise().continuation = awaiting;
        return m_handle;
    }

    T await_resume() { return m_handle.promise().takeResult(); }

    // Used by `spawn` to start the task with its own cancellation.
    std::coroutine_handle<promise_type> release() { return std::exchange(m_handle, nullptr); }

private:
    explicit Task(std::coroutine_handle<promise_type> handle)
        : m_handle(handle)
    {
    }

    std::coroutine_handle<promise_type> m_handle;
};

// The handle of a spawned task. Dropping it does not stop the task; `cancel` wakes the task's
// current wait, which then reports that it was cancelled, and makes every later wait end at once.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<Cancellation> cancellation)
        : m_cancellation(std::move(cancellation))
    {
    }

    void cancel() const
    {
        if (m_cancellation)
            m_cancellation->cancel();
    }
    bool isCancelled() const { return m_cancellation && m_cancellation->isCancelled(); }

private:
    std::shared_ptr<Cancellation> m_cancellation;
};

namespace detail {

    struct DetachedTask {
        struct promise_type {
            std::shared_ptr<Cancellation> cancellation;
            DetachedTask get_return_object() { return { std::coroutine_handle<promise_type>::from_promise(*this) }; }
            std::suspend_always initial_suspend() noexcept { return {}; }
            std::suspend_never final_suspend() noexcept { return {}; }
            void return_void() { }
            // A spawned task has nobody to report to; letting an exception escape is a bug.
            void unhandled_exception() noexcept { std::terminate(); }
        };
        std::coroutine_handle<promise_type> handle;
    };

    inline DetachedTask runDetached(Task<void> task)
    {
        co_await std::move(task);
    }

}

// Starts `task` at once; it runs until its first wait and then on the run loop.
inline TaskHandle spawn(Task<void> task)
{
    auto cancellation = std::make_shared<Cancellation>();
    auto detached = detail::runDetached(std::move(task));
    detached.handle.promise().cancellation = cancellation;
    detached.handle.resume();
    return TaskHandle(std::move(cancellation));
}

// `co_await sleep(loop, delay)` gives true when the delay passed, false when the task was
// cancelled (before or during the wait). Store the result before testing it: GCC 12 reads an
// uninitialised value for `if (co_await sleep(...))` (seen under valgrind).
class SleepAwaiter {
public:
    SleepAwaiter(RunLoop& loop, Seconds delay)
        : m_loop(loop)
        , m_delay(delay)
    {
    }

    bool await_ready() const noexcept { return false; }

    template <typename Promise>
    bool await_suspend(std::coroutine_handle<Promise> waiting)
    {
        auto cancellation = waiting.promise().cancellation;
        if (cancellation && cancellation->isCancelled())
            return false;
        auto timer = m_loop.schedule(m_delay, [this, waiting, cancellation] {
            if (cancellation)
                cancellation->clearWakeHook();
            m_hasElapsed = true;
            waiting.resume();
        });
        if (cancellation) {
            cancellation->setWakeHook([this, waiting, timer] {
                m_loop.cancel(timer);
                waiting.resume();
            });
        }
        return true;
    }

    bool await_resume() const noexcept { return m_hasElapsed; }

private:
    RunLoop& m_loop;
    Seconds m_delay;
    bool m_hasElapsed { false };
};

inline SleepAwaiter sleep(RunLoop& loop, Seconds delay)
{
    return SleepAwaiter(loop, delay);
}

// Awaits a callback-style operation: `start` receives a completion function to call once with
// the result. Gives the result, or nothing when the task was cancelled first; a completion that
// arrives after cancellation is dropped.
template <typename T>
class CallbackAwaiter {
public:
    using Start = std::function<void(std::function<void(T)>)>;

    explicit CallbackAwaiter(Start start)
        : m_start(std::move(start))
        , m_state(std::make_shared<State>())
    {
    }

    bool await_ready() const noexcept { return false; }

    template <typename Promise>
    bool await_suspend(std::coroutine_handle<Promise> waiting)
    {
        auto cancellation = waiting.promise().cancellation;
        if (cancellation && cancellation->isCancelled())
            return false;
        m_state->cancellation = cancellation;
        m_start([state = m_state](T result) {
            if (state->isFinished)
                return;
            state->isFinished = true;
            state->result = std::move(result);
            if (auto waiter = std::exchange(state->waiting, nullptr)) {
                if (state->cancellation)
                    state->cancellation->clearWakeHook();
                waiter.resume();
            }
        });
        if (m_state->isFinished)
            return false;
        m_state->waiting = waiting;
        if (cancellation) {
            cancellation->setWakeHook([state = m_state] {
                state->isFinished = true;
                if (auto waiter = std::exchange(state->waiting, nullptr))
                    waiter.resume();
            });
        }
        return true;
    }

    std::optional<T> await_resume() { return std::move(m_state->result); }

private:
    struct State {
        bool isFinished { false };
        std::optional<T> result;
        std::coroutine_handle<> waiting;
        std::shared_ptr<Cancellation> cancellation;
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

#pragma once

#include "Task.h"

#include <memory>
#include <utility>
#include <vector>

namespace halcyra {

// `co_await whenAll(tasks)` runs the tasks side by side: each starts at once and runs until its
// first wait, and they interleave on the loop from then on. The awaiting task resumes when the
// last one has finished. Cancelling the awaiting task cancels every one of them, and it still
// resumes only after all have ended, so none outlives the frame that started it.
class WhenAllAwaiter {
public:
    explicit WhenAllAwaiter(std::vector<Task<void>> tasks)
        : m_tasks(std::move(tasks))
        , m_state(std::make_shared<State>())
    {
    }

    bool await_ready() const noexcept { return m_tasks.empty(); }

    template <typename Promise>
    bool await_suspend(std::coroutine_handle<Promise> waiting)
    {
        auto state = m_state;
        state->parent = waiting.promise().cancellation;
        // One more than the tasks, so that a task finishing while the others start does not
        // resume the awaiting task early.
        state->remaining = m_tasks.size() + 1;
        for (auto& task : m_tasks) {
            auto cancellation = std::make_shared<Cancellation>();
            if (state->parent && state->parent->isCancelled())
                cancellation->cancel();
            state->children.push_back(cancellation);
            auto detached = detail::runDetached(finishing(std::move(task), state));
            detached.handle.promise().cancellation = cancellation;
            detached.handle.resume();
        }
        if (--state->remaining == 0)
            return false;
        state->waiting = waiting;
        if (state->parent) {
            state->parent->setWakeHook([state] {
                for (auto& child : state->children)
                    child->cancel();
            });
        }
        return true;
    }

    void await_resume() const noexcept { }

private:
    struct State {
        size_t remaining { 0 };
        std::shared_ptr<Cancellation> parent;
        std::vector<std::shared_ptr<Cancellation>> children;
        std::coroutine_handle<> waiting;
    };

    static Task<void> finishing(Task<void> task, std::shared_ptr<State> state)
    {
        co_await std::move(task);
        if (--state->remaining)
            co_return;
        if (auto waiting = std::exchange(state->waiting, nullptr)) {
            if (state->parent)
                state->parent->clearWakeHook();
            waiting.resume();
        }
    }

    std::vector<Task<void>> m_tasks;
    std::shared_ptr<State> m_state;
};

inline WhenAllAwaiter whenAll(std::vector<Task<void>> tasks)
{
    return WhenAllAwaiter(std::move(tasks));
}

}

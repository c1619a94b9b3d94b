#pragma once

#include "Task.h"

#include <memory>
#include <utility>
#include <vector>

namespace halcyra {

// `co_await whenAll(tasks)` runs the tasks side by side: each starts at once and runs until its
// first wait, and they interleave on the loop from then on. The awaiting task goes on, from the
// loop, once the last one has finished. Cancelling the awaiting task, or destroying it, ends
// every one of them without running any more of their code, so none outlives the frame that
// started it.
class WhenAllAwaiter {
public:
    explicit WhenAllAwaiter(std::vector<Task<void>> tasks)
        : m_tasks(std::move(tasks))
        , m_state(std::make_shared<State>())
    {
    }
    WhenAllAwaiter(WhenAllAwaiter&&) = default;
    ~WhenAllAwaiter()
    {
        if (m_state)
            endChildren(*m_state);
    }

    bool await_ready() const noexcept { return m_tasks.empty(); }

    template <typename Promise>
    bool await_suspend(std::coroutine_handle<Promise> waiting)
    {
        auto start = detail::admitWait(waiting);
        if (start != TaskState::WaitStart::suspend)
            return start == TaskState::WaitStart::endTask;
        auto& parent = *waiting.promise().state;
        auto state = m_state;
        // One more than the tasks, so that a task finishing while the others start does not
        // end the wait early.
        state->remaining = m_tasks.size() + 1;
        for (auto& task : m_tasks) {
            auto child = std::make_shared<TaskState>(parent.loop());
            state->children.push_back(child);
            auto detached = detail::runDetached(finishing(std::move(task), state));
            detached.handle.promise().state = child;
            child->start(detached.handle);
        }
        // Every task ended before its first wait: the awaiting task goes straight on.
        if (--state->remaining == 0)
            return false;
        state->parent = parent.weak_from_this();
        parent.beginWait(waiting, [state] {
            state->isWithdrawn = true;
            endChildren(*state);
        });
        return true;
    }

    void await_resume() const noexcept { }

private:
    struct State {
        size_t remaining { 0 };
        bool isWithdrawn { false };
        std::weak_ptr<TaskState> parent;
        std::vector<std::shared_ptr<TaskState>> children;
    };

    static void endChildren(State& state)
    {
        for (auto& child : std::exchange(state.children, {}))
            child->destroy();
    }

    // The last one to finish hands the awaiting task back to the loop, never resuming it inside
    // a child's frame.
    static void finishOne(const std::shared_ptr<State>& state)
    {
        if (--state->remaining || state->isWithdrawn)
            return;
        if (auto parent = state->parent.lock()) {
            parent->loop().post([state] {
                // Cancelled meanwhile: the awaiting task was handed back already.
                if (std::exchange(state->isWithdrawn, true))
                    return;
                if (auto parent = state->parent.lock())
                    parent->finishWait();
            });
        }
    }

    static Task<void> finishing(Task<void> task, std::shared_ptr<State> state)
    {
        co_await std::move(task);
        finishOne(state);
    }

    std::vector<Task<void>> m_tasks;
    std::shared_ptr<State> m_state;
};

inline WhenAllAwaiter whenAll(std::vector<Task<void>> tasks)
{
    return WhenAllAwaiter(std::move(tasks));
}

}

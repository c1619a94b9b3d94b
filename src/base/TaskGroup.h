#pragma once

#include "Task.h"

#include <utility>
#include <vector>

namespace halcyra {

// Owns the tasks an object starts, so that none of them outlives it: destroying the group ends
// every task still running without resuming it, so no task touches its owner once the owner is
// going away. Declare the group after everything its tasks use, so it goes first.
class TaskGroup {
public:
    explicit TaskGroup(RunLoop& loop)
        : m_loop(loop)
    {
    }
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;
    ~TaskGroup()
    {
        for (auto& handle : std::exchange(m_tasks, {}))
            handle.destroy();
    }

    TaskHandle spawn(Task<void> task)
    {
        std::erase_if(m_tasks, [](auto& handle) { return handle.isFinished(); });
        auto handle = halcyra::spawn(m_loop, std::move(task));
        if (!handle.isFinished())
            m_tasks.push_back(handle);
        return handle;
    }

    // Cancels every task; each resumes later, from the loop, with its wait's result absent.
    void cancelAll()
    {
        for (auto& handle : m_tasks)
            handle.cancel();
    }

private:
    RunLoop& m_loop;
    std::vector<TaskHandle> m_tasks;
};

}

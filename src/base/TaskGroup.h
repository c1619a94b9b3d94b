#pragma once

#include "Task.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

namespace halcyra {

// Owns the tasks an object starts, so that none of them outlives it: destroying the group
// cancels every task still running. Finished tasks leave the group by themselves.
class TaskGroup {
public:
    TaskGroup()
        : m_running(std::make_shared<std::map<std::uint64_t, TaskHandle>>())
    {
    }
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;
    ~TaskGroup() { cancelAll(); }

    TaskHandle spawn(Task<void> task)
    {
        auto id = m_nextID++;
        auto hasFinished = std::make_shared<bool>(false);
        auto handle = halcyra::spawn(track(std::move(task), m_running, id, hasFinished));
        if (!*hasFinished)
            m_running->emplace(id, handle);
        return handle;
    }

    void cancelAll()
    {
        // Cancelled tasks resume at once and remove themselves; work on a copy.
        auto running = std::exchange(*m_running, {});
        for (auto& [id, handle] : running)
            handle.cancel();
    }

    size_t runningCount() const { return m_running->size(); }

private:
    using Running = std::map<std::uint64_t, TaskHandle>;

    static Task<void> track(Task<void> task, std::weak_ptr<Running> running, std::uint64_t id, std::shared_ptr<bool> hasFinished)
    {
        co_await std::move(task);
        *hasFinished = true;
        if (auto tasks = running.lock())
            tasks->erase(id);
    }

    std::shared_ptr<Running> m_running;
    std::uint64_t m_nextID { 1 };
};

}

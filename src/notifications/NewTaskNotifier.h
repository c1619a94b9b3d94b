#pragma once

#include "base/RunLoop.h"
#include "base/Time.h"
#include "counts/CountsReading.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace halcyra {

class SettingsStore;

// "New Workday task" or "N new Workday tasks".
std::string newTaskNotificationTitle(std::int64_t newTasks);

// Decides when a desktop notification tells the user that inbox tasks arrived. It compares each
// complete reading made here with the previous one and announces the increase, at most once a
// minute, never for the first reading after launch, while one of its windows has the focus, or
// with the setting off. What the user has seen (the focused window, a reading adopted from
// another machine, where that machine told them) becomes the new baseline; an increase held
// back by the once-a-minute rule is announced, summed up, by the next reading that may.
class NewTaskNotifier {
public:
    static constexpr const char* enabledKey = "notifyAboutNewTasks";
    static constexpr Seconds minimumInterval { 60 };

    struct Collaborators {
        RunLoop& loop;
        SettingsStore& settings;
        std::function<bool()> isApplicationFocused;
        std::function<void(std::int64_t newTasks)> notify;
    };

    explicit NewTaskNotifier(Collaborators);

    // Each reading the poller hands out; only a newly complete one counts.
    void takeReading(const CountsReading&);

    bool isEnabled() const;

private:
    bool isTooSoon() const;
    void takeCompleteReading(std::int64_t tasks, WallTime observedAt);
    void takeAdoptedReading(std::int64_t tasks, WallTime observedAt);

    Collaborators m_collaborators;
    std::optional<std::int64_t> m_baseline;
    std::optional<WallTime> m_baselineObservedAt;
    std::optional<MonotonicTime> m_lastNotification;
    std::optional<WallTime> m_lastTakenUpdate;
};

}

#include "NewTaskNotifier.h"

#include "base/Localization.h"
#include "base/SettingsStore.h"

namespace halcyra {

std::string newTaskNotificationTitle(std::int64_t newTasks)
{
    if (newTasks == 1)
        return _("New Workday task");
    return formatted(ngettext("%s new Workday task", "%s new Workday tasks", static_cast<unsigned long>(newTasks)), std::to_string(newTasks));
}

NewTaskNotifier::NewTaskNotifier(Collaborators collaborators)
    : m_collaborators(std::move(collaborators))
{
}

bool NewTaskNotifier::isEnabled() const
{
    return m_collaborators.settings.boolean(enabledKey).value_or(true);
}

bool NewTaskNotifier::isTooSoon() const
{
    return m_lastNotification && m_collaborators.loop.now() - *m_lastNotification < minimumInterval;
}

void NewTaskNotifier::takeReading(const CountsReading& reading)
{
    if (!reading.lastUpdated || reading.lastUpdated == m_lastTakenUpdate || !reading.task)
        return;
    m_lastTakenUpdate = reading.lastUpdated;
    if (reading.origin == CountsReading::Origin::anotherMachine)
        takeAdoptedReading(*reading.task, *reading.lastUpdated);
    else
        takeCompleteReading(*reading.task, *reading.lastUpdated);
}

void NewTaskNotifier::takeCompleteReading(std::int64_t tasks, WallTime observedAt)
{
    auto newTasks = m_baseline && tasks > *m_baseline ? tasks - *m_baseline : 0;
    // Tasks seen in the focused window, or with the notification switched off, are no news.
    bool isNews = newTasks > 0 && isEnabled() && !m_collaborators.isApplicationFocused();
    // Held back by the once-a-minute rule, the tasks stay news: the baseline stays where it was,
    // so that the next reading that may notify announces them too.
    if (isNews && isTooSoon())
        return;
    m_baseline = tasks;
    m_baselineObservedAt = observedAt;
    if (!isNews)
        return;
    m_lastNotification = m_collaborators.loop.now();
    m_collaborators.notify(newTasks);
}

void NewTaskNotifier::takeAdoptedReading(std::int64_t tasks, WallTime observedAt)
{
    // The machine that made the reading has told the user already.
    if (m_baselineObservedAt && observedAt <= *m_baselineObservedAt)
        return;
    m_baseline = tasks;
    m_baselineObservedAt = observedAt;
}

}

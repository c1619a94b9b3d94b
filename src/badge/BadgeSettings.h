#pragma once

#include "base/Signal.h"

#include <functional>

namespace halcyra {

class SettingsStore;

// Which counts are added together into the launcher badge, one switch per count kind, kept in
// the settings store. Observers are told before each change.
class BadgeSettings {
public:
    enum class Field { includeTask,
        includeNotification,
        includePrepaid,
        includeDraft };

    explicit BadgeSettings(SettingsStore&);

    bool includeTask() const { return m_includeTask; }
    bool includeNotification() const { return m_includeNotification; }
    bool includePrepaid() const { return m_includePrepaid; }
    bool includeDraft() const { return m_includeDraft; }

    bool value(Field) const;
    // Publishes, then stores the switch under its key.
    void setValue(Field, bool);

    static const char* key(Field);

    [[nodiscard]] Connection observeWillChange(std::function<void()> observer) { return m_willChange.connect(std::move(observer)); }

private:
    bool& storage(Field);

    SettingsStore& m_settings;
    bool m_includeTask;
    bool m_includeNotification;
    bool m_includePrepaid;
    bool m_includeDraft;
    Signal<> m_willChange;
};

}

#include "BadgeSettings.h"

#include "base/SettingsStore.h"

namespace halcyra {

BadgeSettings::BadgeSettings(SettingsStore& settings)
    : m_settings(settings)
    // A fresh installation badges the outstanding tasks only; a value of another type reads as
    // missing.
    , m_includeTask(settings.boolean(key(Field::includeTask)).value_or(true))
    , m_includeNotification(settings.boolean(key(Field::includeNotification)).value_or(false))
    , m_includePrepaid(settings.boolean(key(Field::includePrepaid)).value_or(false))
    , m_includeDraft(settings.boolean(key(Field::includeDraft)).value_or(false))
{
}

const char* BadgeSettings::key(Field field)
{
    switch (field) {
    case Field::includeTask:
        return "badgeIncludeTask";
    case Field::includeNotification:
        return "badgeIncludeNotification";
    case Field::includePrepaid:
        return "badgeIncludePrepaid";
    case Field::includeDraft:
        return "badgeIncludeDraft";
    }
    return "";
}

bool& BadgeSettings::storage(Field field)
{
    switch (field) {
    case Field::includeTask:
        return m_includeTask;
    case Field::includeNotification:
        return m_includeNotification;
    case Field::includePrepaid:
        return m_includePrepaid;
    case Field::includeDraft:
        break;
    }
    return m_includeDraft;
}

bool BadgeSettings::value(Field field) const
{
    return const_cast<BadgeSettings*>(this)->storage(field);
}

void BadgeSettings::setValue(Field field, bool value)
{
    m_willChange.notify();
    storage(field) = value;
    m_settings.setBoolean(key(field), value);
}

}

#include "BadgeComposer.h"

#include "BadgeSettings.h"
#include "BadgeSink.h"
#include "base/RunLoop.h"

#include <limits>

namespace halcyra {

namespace {

    std::int64_t saturatingSum(std::int64_t total, std::int64_t count)
    {
        std::int64_t sum = 0;
        if (!__builtin_add_overflow(total, count, &sum))
            return sum;
        return count > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }

}

BadgeComposer::BadgeComposer(RunLoop& loop, BadgeSettings& settings, BadgeSink& sink)
    : m_settings(settings)
    , m_sink(sink)
{
    // Told before a switch changes: the badge is composed on the next turn of the loop, once
    // the new value is in place.
    m_settingsObservation = settings.observeWillChange([this, &loop, lifetime = std::weak_ptr<bool>(m_lifetime)] {
        loop.dispatch([this, lifetime] {
            if (lifetime.lock())
                compose();
        });
    });
}

void BadgeComposer::takeReading(const CountsReading& reading)
{
    m_reading = reading;
    compose();
}

void BadgeComposer::compose()
{
    std::int64_t total = 0;
    auto add = [&](bool isIncluded, const std::optional<std::int64_t>& count) {
        if (isIncluded && count)
            total = saturatingSum(total, *count);
    };
    add(m_settings.includeTask(), m_reading.task);
    add(m_settings.includeNotification(), m_reading.notification);
    add(m_settings.includePrepaid(), m_reading.prepaid);
    add(m_settings.includeDraft(), m_reading.draft);
    auto badge = total >= 1 ? std::optional(total) : std::nullopt;
    if (badge == m_shown)
        return;
    m_shown = badge;
    m_sink.setBadgeCount(badge);
}

}

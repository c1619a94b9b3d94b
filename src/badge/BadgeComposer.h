#pragma once

#include "base/Signal.h"
#include "counts/CountsReading.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace halcyra {

class BadgeSettings;
class BadgeSink;
class RunLoop;

// The launcher badge: the counts the badge settings choose, added up (an absent count adds
// nothing, a total below 1 shows no badge). The sink hears only when the total changed, from
// the last reading taken or from a switch.
class BadgeComposer {
public:
    BadgeComposer(RunLoop&, BadgeSettings&, BadgeSink&);

    void takeReading(const CountsReading&);

private:
    void compose();

    BadgeSettings& m_settings;
    BadgeSink& m_sink;
    CountsReading m_reading;
    // What the launcher shows: nothing until the first badge is sent.
    std::optional<std::int64_t> m_shown;
    Connection m_settingsObservation;
    // Lets the composition after a switch tell whether the composer still exists.
    std::shared_ptr<bool> m_lifetime { std::make_shared<bool>(true) };
};

}

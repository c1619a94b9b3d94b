#pragma once

#include "BadgeSink.h"

namespace halcyra {

// Writes each change of the badge to the diagnostic log until the launcher shows it.
class LoggingBadgeSink final : public BadgeSink {
public:
    void setBadgeCount(std::optional<std::int64_t>) override;

private:
    bool m_hasShown { false };
    std::optional<std::int64_t> m_shownCount;
};

}

#include "LoggingBadgeSink.h"

#include "base/Log.h"

#include <string>

namespace halcyra {

void LoggingBadgeSink::setBadgeCount(std::optional<std::int64_t> count)
{
    // The badge is set after every stored count; only a change is worth a line.
    if (m_hasShown && m_shownCount == count)
        return;
    m_hasShown = true;
    m_shownCount = count;
    logVerbose(count ? "[App] badge " + std::to_string(*count) : std::string("[App] badge cleared"));
}

}

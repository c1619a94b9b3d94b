#include "WebProcessRestartLimit.h"

namespace halcyra {

WebProcessRestartLimit::Decision WebProcessRestartLimit::noteEnd(MonotonicTime now)
{
    while (!m_recentEnds.empty() && now - m_recentEnds.front() >= window)
        m_recentEnds.pop_front();
    m_recentEnds.push_back(now);
    return static_cast<int>(m_recentEnds.size()) >= maximumEnds ? Decision::stop : Decision::reload;
}

}

#include "WebProcessRestartLimit.h"

namespace halcyra {

WebProcessRestartLimit::Decision WebProcessRestartLimit::noteEnd(MonotonicTime now)
{
    if (m_isStopped)
        return Decision::stayStopped;
    while (!m_recentEnds.empty() && now - m_recentEnds.front() >= window)
        m_recentEnds.pop_front();
    m_recentEnds.push_back(now);
    m_isStopped = static_cast<int>(m_recentEnds.size()) >= maximumEnds;
    return m_isStopped ? Decision::stop : Decision::reload;
}

}

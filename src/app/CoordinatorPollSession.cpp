#include "CoordinatorPollSession.h"

#include "credentials/KeychainStore.h"
#include "session/WorkdayWebCoordinator.h"

#include <utility>

namespace halcyra {

std::shared_ptr<WebView> CoordinatorPollSession::mainWebView() const
{
    return m_coordinator ? m_coordinator->webView() : nullptr;
}

bool CoordinatorPollSession::isRecoveryInProgress() const
{
    return m_coordinator && m_coordinator->isRecoveryInProgress();
}

std::optional<MonotonicTime> CoordinatorPollSession::lastRecoveryAttempt() const
{
    return m_coordinator ? m_coordinator->lastRecoveryAttempt() : std::nullopt;
}

bool CoordinatorPollSession::isPasswordWithheld() const
{
    return m_coordinator && m_coordinator->isPasswordWithheld();
}

std::optional<bool> CoordinatorPollSession::hasSavedCredentials()
{
    if (auto known = m_keychainStore.knownToHaveCredentials())
        return *known;
    if (!std::exchange(m_isReading, true))
        m_tasks.spawn(readSavedCredentials());
    return m_lastReadHasCredentials;
}

Task<void> CoordinatorPollSession::readSavedCredentials()
{
    auto credentials = co_await m_keychainStore.load();
    m_lastReadHasCredentials = credentials.has_value();
    m_isReading = false;
}

void CoordinatorPollSession::recoverSession(const std::optional<URL>& url)
{
    if (m_coordinator)
        m_coordinator->recoverSession(url);
}

}

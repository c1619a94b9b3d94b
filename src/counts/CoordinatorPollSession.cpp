#include "CoordinatorPollSession.h"

#include "credentials/KeychainStore.h"
#include "session/WorkdayWebCoordinator.h"

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

bool CoordinatorPollSession::hasSavedCredentials() const
{
    return m_keychainStore.load().has_value();
}

void CoordinatorPollSession::recoverSession(const std::optional<URL>& url)
{
    if (m_coordinator)
        m_coordinator->recoverSession(url);
}

}

#include "CoordinatorPollSession.h"

#include "credentials/KeychainStore.h"
#include "session/WorkdayWebCoordinator.h"

#include <utility>

namespace halcyra {

std::shared_ptr<WebView> CoordinatorPollSession::mainWebView() const
{
    auto* coordinator = m_coordinator();
    return coordinator ? coordinator->webView() : nullptr;
}

bool CoordinatorPollSession::isRecoveryInProgress() const
{
    auto* coordinator = m_coordinator();
    return coordinator && coordinator->isRecoveryInProgress();
}

std::optional<MonotonicTime> CoordinatorPollSession::lastRecoveryAttempt() const
{
    auto* coordinator = m_coordinator();
    return coordinator ? coordinator->lastRecoveryAttempt() : std::nullopt;
}

bool CoordinatorPollSession::isPasswordWithheld() const
{
    auto* coordinator = m_coordinator();
    return coordinator && coordinator->isPasswordWithheld();
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
    if (auto* coordinator = m_coordinator())
        coordinator->recoverSession(url);
}

}

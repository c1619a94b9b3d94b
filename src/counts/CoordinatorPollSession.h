#pragma once

#include "PollSession.h"

namespace halcyra {

class KeychainStore;
class WorkdayWebCoordinator;

// The session as the coordinator and the credential store keep it. The coordinator is made
// after the poller, which it calls, so it is handed over once it exists.
class CoordinatorPollSession final : public PollSession {
public:
    explicit CoordinatorPollSession(KeychainStore& keychainStore)
        : m_keychainStore(keychainStore)
    {
    }

    void setCoordinator(WorkdayWebCoordinator* coordinator) { m_coordinator = coordinator; }

    std::shared_ptr<WebView> mainWebView() const override;
    bool isRecoveryInProgress() const override;
    std::optional<MonotonicTime> lastRecoveryAttempt() const override;
    bool isPasswordWithheld() const override;
    bool hasSavedCredentials() const override;
    void recoverSession(const std::optional<URL>&) override;

private:
    KeychainStore& m_keychainStore;
    WorkdayWebCoordinator* m_coordinator { nullptr };
};

}

#pragma once

#include "base/TaskGroup.h"
#include "counts/PollSession.h"

namespace halcyra {

class KeychainStore;
class WorkdayWebCoordinator;

// The session as the coordinator and the credential store keep it. The coordinator is made
// after the poller, which it calls, so it is handed over once it exists.
class CoordinatorPollSession final : public PollSession {
public:
    CoordinatorPollSession(RunLoop& loop, KeychainStore& keychainStore)
        : m_keychainStore(keychainStore)
        , m_tasks(loop)
    {
    }

    void setCoordinator(WorkdayWebCoordinator* coordinator) { m_coordinator = coordinator; }

    std::shared_ptr<WebView> mainWebView() const override;
    bool isRecoveryInProgress() const override;
    std::optional<MonotonicTime> lastRecoveryAttempt() const override;
    bool isPasswordWithheld() const override;
    std::optional<bool> hasSavedCredentials() override;
    void recoverSession(const std::optional<URL>&) override;

private:
    Task<void> readSavedCredentials();

    KeychainStore& m_keychainStore;
    // The poller asks on every cycle and cannot wait for the keychain: it is answered from the
    // store's memory, and from the last read when the memory cannot tell. A keychain that failed
    // has answered too: it holds no password the automatic sign-in could use.
    TaskGroup m_tasks;
    bool m_isReading { false };
    std::optional<bool> m_lastReadHasCredentials;
    WorkdayWebCoordinator* m_coordinator { nullptr };
};

}

#pragma once

#include "base/TaskGroup.h"
#include "counts/PollSession.h"

#include <functional>

namespace halcyra {

class KeychainStore;
class WorkdayWebCoordinator;

// The session as the coordinator and the credential store keep it. The coordinator calls the
// poller and so is made after it: the session reaches it through `coordinator`, which is asked
// only when the poller polls, by then with the coordinator made (null answers "no session").
class CoordinatorPollSession final : public PollSession {
public:
    CoordinatorPollSession(RunLoop& loop, KeychainStore& keychainStore, std::function<WorkdayWebCoordinator*()> coordinator)
        : m_keychainStore(keychainStore)
        , m_coordinator(std::move(coordinator))
        , m_tasks(loop)
    {
    }

    std::shared_ptr<WebView> mainWebView() const override;
    bool isRecoveryInProgress() const override;
    std::optional<MonotonicTime> lastRecoveryAttempt() const override;
    bool isPasswordWithheld() const override;
    std::optional<bool> hasSavedCredentials() override;
    void recoverSession(const std::optional<URL>&) override;

private:
    Task<void> readSavedCredentials();

    KeychainStore& m_keychainStore;
    std::function<WorkdayWebCoordinator*()> m_coordinator;
    // The poller asks on every cycle and cannot wait for the keychain: it is answered from the
    // store's memory, and from the last read when the memory cannot tell. A keychain that failed
    // has answered too: it holds no password the automatic sign-in could use.
    TaskGroup m_tasks;
    bool m_isReading { false };
    std::optional<bool> m_lastReadHasCredentials;
};

}

#pragma once

#include "base/Badge.h"
#include "base/Signal.h"
#include "base/TaskGroup.h"
#include "base/Time.h"
#include "session/WebEngine.h"

#include <memory>
#include <optional>

namespace halcyra {

class CountsPoller;
class NetworkPathMonitor;
class RunLoop;
class SignInAutomation;
class WakeMonitor;
class WorkdayWebCoordinator;

// Brings the main web view back to a signed-in Workday page when Workday ends the session, when
// CAS's sign-in flow breaks, and when loads fail for lack of network; resumes at once when the
// network returns or the machine wakes. Every automatic action is rate-limited, so that a
// sign-in that keeps failing ends on a page waiting for the user instead of in a loop.
class SessionRecovery {
public:
    static constexpr Seconds recoveryInterval { 180 };
    static constexpr Seconds brokenFlowInterval { 600 };
    static constexpr Seconds initialLoadRetryDelay { 5 };
    static constexpr Seconds maximumLoadRetryDelay { 60 };

    SessionRecovery(WorkdayWebCoordinator&, RunLoop&, NetworkPathMonitor&, WakeMonitor&, CountsPoller&, SignInAutomation&);

    void recoverSession(const std::optional<URL>&);
    void noteRecoveryOutcome(const std::optional<URL>&);
    void checkBrokenFlow(WebView&);
    void handleLoadFailure(WebView&, const WebError&);
    void retryPendingLoad();
    void cancelLoadRetry();
    void startMonitoring();
    void networkPathChanged(bool isSatisfied);
    void resumeAfterConnectivityChange();
    // Any finished navigation starts the offline back-off over.
    void resetLoadRetryDelay() { m_loadRetryDelay = initialLoadRetryDelay; }

    // The sign-in withheld the password: the recovery under way now waits for the user.
    void waitForUser(Badge<SignInAutomation>) { m_isRecoveryInProgress = false; }
    // URL changes to and from the page an offline retry reloads are not the user's navigations.
    bool isLoadRetryURL(const URL& url) const { return m_loadRetryURL == url; }

    bool isRecoveryInProgress() const { return m_isRecoveryInProgress; }
    std::optional<MonotonicTime> lastRecoveryAttempt() const { return m_lastRecoveryAttempt; }

private:
    struct PendingLoadRetry {
        URL url;
        long long navigationCount;
        std::weak_ptr<WebView> webView;
    };

    Task<void> runBrokenFlowCheck(std::shared_ptr<WebView>);
    Task<void> retryAfter(Seconds delay);
    Task<void> refreshPoller();
    void restartSignIn(WebView&);

    WorkdayWebCoordinator& m_coordinator;
    RunLoop& m_loop;
    NetworkPathMonitor& m_networkPathMonitor;
    WakeMonitor& m_wakeMonitor;
    CountsPoller& m_poller;
    SignInAutomation& m_signIn;

    std::optional<MonotonicTime> m_lastRecoveryAttempt;
    bool m_isRecoveryInProgress { false };
    std::optional<MonotonicTime> m_lastBrokenFlowRestart;
    std::optional<URL> m_loadRetryURL;
    TaskHandle m_loadRetry;
    Seconds m_loadRetryDelay { initialLoadRetryDelay };
    std::optional<PendingLoadRetry> m_pendingLoadRetry;
    bool m_isOnline { true };
    bool m_isMonitoring { false };
    Connection m_pathMonitor;
    bool m_isRecoveryAwaitingNetwork { false };
    Connection m_wakeObservation;
    TaskGroup m_tasks;
};

}

#include "SessionRecovery.h"

#include "Connectivity.h"
#include "CountsPoller.h"
#include "LogFormatting.h"
#include "OfflineErrors.h"
#include "PageScripts.h"
#include "SignInAutomation.h"
#include "WorkdayWebCoordinator.h"
#include "base/Log.h"
#include "base/RunLoop.h"

#include <cmath>
#include <sstream>

namespace halcyra {

namespace {

    std::string formattedDelay(Seconds delay)
    {
        std::ostringstream text;
        text << delay.count() << " s";
        return text.str();
    }

}

SessionRecovery::SessionRecovery(WorkdayWebCoordinator& coordinator, RunLoop& loop, NetworkPathMonitor& networkPathMonitor, WakeMonitor& wakeMonitor, CountsPoller& poller, SignInAutomation& signIn)
    : m_coordinator(coordinator)
    , m_loop(loop)
    , m_networkPathMonitor(networkPathMonitor)
    , m_wakeMonitor(wakeMonitor)
    , m_poller(poller)
    , m_signIn(signIn)
    , m_tasks(loop)
{
}

void SessionRecovery::recoverSession(const std::optional<URL>& url)
{
    if (m_lastRecoveryAttempt && m_loop.now() - *m_lastRecoveryAttempt < recoveryInterval)
        return;
    auto webView = m_coordinator.webView();
    if (!webView)
        return;
    if (!m_isOnline) {
        logVerbose("[Workday] session ended (" + redactedURL(url) + "); signing back in once online");
        m_isRecoveryAwaitingNetwork = true;
        return;
    }
    m_isRecoveryAwaitingNetwork = false;
    logVerbose("[Workday] session ended (" + redactedURL(url) + "); signing back in");
    m_lastRecoveryAttempt = m_loop.now();
    m_isRecoveryInProgress = true;
    m_poller.setState(PollState::signingIn());
    m_coordinator.loadEntry(*webView);
}

void SessionRecovery::noteRecoveryOutcome(const std::optional<URL>& url)
{
    const auto& endpoints = m_coordinator.endpoints();
    if (endpoints.isSignedInTenantPage(url)) {
        if (m_isRecoveryInProgress)
            logVerbose("[Workday] session recovered (" + redactedURL(url) + ")");
        m_isRecoveryInProgress = false;
        return;
    }
    if (!endpoints.isSessionEndedURL(url))
        return;
    if (!m_isRecoveryInProgress) {
        recoverSession(url);
        return;
    }
    // The automatic sign-in ended on a session-ended page again.
    logVerbose("[Workday] sign-in didn't complete (" + redactedURL(url) + "); waiting for the user");
    m_isRecoveryInProgress = false;
}

void SessionRecovery::checkBrokenFlow(WebView& webView)
{
    auto url = webView.url();
    if (!url || url->host() != m_coordinator.endpoints().ssoHost)
        return;
    m_tasks.spawn(runBrokenFlowCheck(webView.shared_from_this()));
}

Task<void> SessionRecovery::runBrokenFlowCheck(std::shared_ptr<WebView> webView)
{
    auto result = co_await evaluate(*webView, std::string(brokenFlowExpression()));
    if (!result || result->isError() || *result->value != true)
        co_return;

    if (m_lastBrokenFlowRestart && m_loop.now() - *m_lastBrokenFlowRestart < brokenFlowInterval) {
        logVerbose("[Workday] CAS flow broke again; waiting for the user");
        co_return;
    }
    if (webView != m_coordinator.webView())
        co_return;
    logVerbose("[Workday] CAS flow broke (" + redactedURL(webView->url()) + "); starting the sign-in over");
    restartSignIn(*webView);
}

void SessionRecovery::restartSignIn(WebView& webView)
{
    m_lastBrokenFlowRestart = m_loop.now();
    // The fresh attempt must get the password even though it was handed out moments ago.
    m_signIn.forgetLastPasswordHandOut({});
    m_lastRecoveryAttempt = m_loop.now();
    m_isRecoveryInProgress = true;
    m_poller.setState(PollState::signingIn());
    m_coordinator.loadEntry(webView);
}

void SessionRecovery::handleLoadFailure(WebView& webView, const WebError& error)
{
    if (!isOfflineError(error))
        return;
    auto url = error.failingURL ? *error.failingURL : m_coordinator.endpoints().entryURL();
    if (url.scheme() != "https")
        return;

    auto delay = m_loadRetryDelay;
    m_loadRetryDelay = std::min(delay * 2, maximumLoadRetryDelay);
    logVerbose("[Workday] load failed offline (" + std::to_string(error.code) + "); retrying in " + formattedDelay(delay));
    m_loadRetryURL = url;
    m_pendingLoadRetry = PendingLoadRetry { url, m_coordinator.mainNavigationCount(), webView.weak_from_this() };

    m_loadRetry.cancel();
    m_loadRetry = m_tasks.spawn(retryAfter(delay));
}

Task<void> SessionRecovery::retryAfter(Seconds delay)
{
    // GCC 12 misreads an awaited value used directly as a condition: keep it in a variable.
    bool hasElapsed = co_await sleep(m_loop, delay);
    if (hasElapsed)
        retryPendingLoad();
}

void SessionRecovery::retryPendingLoad()
{
    std::exchange(m_loadRetry, {}).cancel();
    if (!m_pendingLoadRetry)
        return;
    auto retry = std::move(*m_pendingLoadRetry);
    m_pendingLoadRetry.reset();

    if (m_coordinator.mainNavigationCount() != retry.navigationCount) {
        logVerbose("[Workday] retry skipped: navigated since the failure");
        return;
    }
    if (auto webView = retry.webView.lock())
        webView->load(retry.url);
}

void SessionRecovery::cancelLoadRetry()
{
    std::exchange(m_loadRetry, {}).cancel();
    m_pendingLoadRetry.reset();
}

void SessionRecovery::startMonitoring()
{
    if (m_isMonitoring)
        return;
    m_isMonitoring = true;
    m_pathMonitor = m_networkPathMonitor.observe([this](bool isSatisfied) {
        networkPathChanged(isSatisfied);
    });
    m_wakeObservation = m_wakeMonitor.observe([this] {
        logVerbose("[Workday] woke from sleep");
        resumeAfterConnectivityChange();
    });
}

void SessionRecovery::networkPathChanged(bool isSatisfied)
{
    if (!isSatisfied) {
        m_isOnline = false;
        return;
    }
    bool wasOffline = !m_isOnline;
    m_isOnline = true;
    if (wasOffline) {
        logVerbose("[Workday] network is back");
        resumeAfterConnectivityChange();
    }
}

void SessionRecovery::resumeAfterConnectivityChange()
{
    auto webView = m_coordinator.webView();
    if (!m_isOnline || !webView)
        return;
    if (m_pendingLoadRetry)
        retryPendingLoad();
    else if (m_isRecoveryAwaitingNetwork || m_coordinator.endpoints().isSignInOrSignedOutPage(webView->url())) {
        m_lastRecoveryAttempt.reset();
        recoverSession(webView->url());
    }
    m_tasks.spawn(refreshPoller());
}

Task<void> SessionRecovery::refreshPoller()
{
    co_await m_poller.refresh();
}

}

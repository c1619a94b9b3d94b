#include "PollNavigationTracker.h"

#include "PollSession.h"
#include "PollWebViewUIHandler.h"
#include "base/Log.h"
#include "session/LogFormatting.h"

namespace halcyra {

PollNavigationTracker::PollNavigationTracker(RunLoop& loop, const Endpoints& endpoints, PollSession& session, PollWebViewUIHandler& uiHandler)
    : m_loop(loop)
    , m_endpoints(endpoints)
    , m_session(session)
    , m_uiHandler(uiHandler)
{
}

PollNavigationTracker::~PollNavigationTracker()
{
    // The waiting tasks belong to their owners, which cancel them; only the timers are ours.
    for (auto& [view, pending] : m_pending) {
        for (auto& [id, waiter] : pending.waiters)
            m_loop.cancel(waiter.expiry);
    }
}

Task<bool> PollNavigationTracker::load(URL url, std::shared_ptr<WebView> view)
{
    auto navigation = view->load(url);
    if (!navigation)
        co_return false;
    auto waiter = m_nextWaiter++;
    auto hasCommitted = co_await awaitCallback<bool>([&](std::function<void(bool)> resume) {
        addWaiter(*view, navigation, waiter, url, std::move(resume));
    });
    co_return hasCommitted.value_or(false);
}

size_t PollNavigationTracker::waiterCount() const
{
    size_t count = 0;
    for (auto& [view, pending] : m_pending)
        count += pending.waiters.size();
    return count;
}

void PollNavigationTracker::addWaiter(const WebView& view, NavigationID navigation, WaiterID id, const URL& requestURL, std::function<void(bool)> resume)
{
    // A newer load replaces the navigation being waited for; earlier callers now wait for it.
    auto& pending = m_pending[&view];
    pending.navigation = navigation;
    auto expiry = m_loop.schedule(commitTimeout, [this, view = &view, id, requestURL] {
        expireWaiter(view, id, requestURL);
    });
    pending.waiters.emplace(id, Waiter { std::move(resume), expiry });
}

void PollNavigationTracker::expireWaiter(const WebView* view, WaiterID id, const URL& requestURL)
{
    auto pending = m_pending.find(view);
    if (pending == m_pending.end())
        return;
    auto waiter = pending->second.waiters.extract(id);
    if (waiter.empty())
        return;
    // The entry stays: its navigation may still report back.
    waiter.mapped().resume(false);
    logVerbose("[PollWebView] timed out waiting for " + redactedURL(requestURL) + " to commit");
}

void PollNavigationTracker::resumeWaiters(const WebView& view, NavigationID navigation, bool hasCommitted)
{
    if (!navigation)
        return;
    auto pending = m_pending.find(&view);
    // No entry, or a superseded load reporting late.
    if (pending == m_pending.end() || pending->second.navigation != navigation)
        return;
    auto waiters = std::move(pending->second.waiters);
    m_pending.erase(pending);
    for (auto& [id, waiter] : waiters) {
        m_loop.cancel(waiter.expiry);
        waiter.resume(hasCommitted);
    }
}

void PollNavigationTracker::didCommitNavigation(WebView& view, NavigationID navigation)
{
    resumeWaiters(view, navigation, true);
    auto url = view.url();
    if (m_endpoints.isSessionEndedURL(url)) {
        logVerbose("[PollWebView] session ended in a hidden view at " + redactedURL(url));
        m_session.recoverSession(url);
    }
}

void PollNavigationTracker::didFailProvisionalNavigation(WebView& view, NavigationID navigation, const WebError&)
{
    resumeWaiters(view, navigation, false);
}

void PollNavigationTracker::didFailNavigation(WebView& view, NavigationID navigation, const WebError&)
{
    // A failure after the commit: the new document is there, however far it loaded.
    resumeWaiters(view, navigation, true);
}

void PollNavigationTracker::didRequestNewWebView(WebView& view, const NavigationAction& action)
{
    m_uiHandler.didRequestNewWebView(view, action);
}

void PollNavigationTracker::runOpenPanel(WebView& view, const OpenPanelParameters& parameters, OpenPanelCompletion completion)
{
    m_uiHandler.runOpenPanel(view, parameters, std::move(completion));
}

void PollNavigationTracker::didReceiveScriptMessage(const ScriptMessage& message, ScriptReplyHandler reply)
{
    m_uiHandler.didReceiveScriptMessage(message, std::move(reply));
}

}

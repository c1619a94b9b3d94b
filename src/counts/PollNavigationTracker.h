#pragma once

#include "base/RunLoop.h"
#include "base/Task.h"
#include "session/Endpoints.h"
#include "session/WebEngine.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace halcyra {

class PollSession;
class PollWebViewUIHandler;

// The client of the hidden poll views. Lets a caller wait until a load it started commits,
// fails or has taken 10 s, and hands a hidden page that shows the session ended to the
// session's recovery. The views' UI requests go to the UI handler.
class PollNavigationTracker final : public WebViewClient {
public:
    static constexpr Seconds commitTimeout { 10 };

    PollNavigationTracker(RunLoop&, const Endpoints&, PollSession&, PollWebViewUIHandler&);
    ~PollNavigationTracker() override;

    PollNavigationTracker(const PollNavigationTracker&) = delete;
    PollNavigationTracker& operator=(const PollNavigationTracker&) = delete;

    // Starts loading `url` in the view and returns once that navigation (or a newer one in the
    // same view) commits or fails, or after 10 s: true when it committed. Otherwise the view still
    // shows the document it showed before.
    Task<bool> load(URL, std::shared_ptr<WebView>);

    // Waiters not yet resumed, over all views.
    size_t waiterCount() const;

    void didCommitNavigation(WebView&, NavigationID) override;
    void didFailProvisionalNavigation(WebView&, NavigationID, const WebError&) override;
    void didFailNavigation(WebView&, NavigationID, const WebError&) override;
    void didRequestNewWebView(WebView&, const NavigationAction&) override;
    void runOpenPanel(WebView&, const OpenPanelParameters&, OpenPanelCompletion) override;
    void didReceiveScriptMessage(const ScriptMessage&, ScriptReplyHandler) override;

private:
    using WaiterID = std::uint64_t;
    struct Waiter {
        std::function<void(bool)> resume;
        RunLoop::TimerID expiry { 0 };
    };
    struct PendingLoad {
        NavigationID navigation { 0 };
        std::map<WaiterID, Waiter> waiters;
    };

    void addWaiter(const WebView&, NavigationID, WaiterID, const URL& requestURL, std::function<void(bool)> resume);
    void expireWaiter(const WebView*, WaiterID, const URL& requestURL);
    void resumeWaiters(const WebView&, NavigationID, bool hasCommitted);

    RunLoop& m_loop;
    const Endpoints& m_endpoints;
    PollSession& m_session;
    PollWebViewUIHandler& m_uiHandler;
    // Keyed by the view's identity; the views live as long as the application.
    std::map<const WebView*, PendingLoad> m_pending;
    WaiterID m_nextWaiter { 1 };
};

}

#pragma once

#include "PollNavigationTracker.h"
#include "PollWebViewUIHandler.h"
#include "base/Task.h"
#include "session/Endpoints.h"
#include "session/PollBrowser.h"

#include <memory>
#include <optional>
#include <string>

namespace halcyra {

class PollSession;
class RunLoop;
class WebEngine;
class WebView;

// The three hidden views that the counts are read from, each pinned to one Workday page and
// hosted off screen at 800 x 900 so that its page lays out and runs as if shown. They share the
// main view's web process and network session, so they are signed in exactly when it is; they
// never sign in by themselves.
class PollWebView final : public PollBrowser {
public:
    static constexpr int width = 800;
    static constexpr int height = 900;
    static constexpr const char* homePath = "/ashgrove/d/home.htmld";
    static constexpr const char* expensesPath = "/ashgrove/d/task/2997$1705.htmld";
    static constexpr const char* reportsPath = "/ashgrove/d/task/2997$728.htmld";

    PollWebView(RunLoop&, WebEngine&, const Endpoints&, PollSession&);
    ~PollWebView() override;

    PollWebView(const PollWebView&) = delete;
    PollWebView& operator=(const PollWebView&) = delete;

    // Builds the three views the first time; later calls do nothing.
    void createIfNeeded() override;
    void discard() override;
    // Which pages a reload brought anew. A page whose load failed or took over 10 s still shows
    // the document it showed before (offline, the last one read): its counts are no news.
    struct ReloadedPages {
        bool home { false };
        bool expenses { false };
        bool reports { false };
    };

    // Reloads the three pinned pages together; returns when each load has committed, failed or
    // taken 10 s. Returns at once, with no page reloaded, before the views exist.
    Task<ReloadedPages> reloadAll();

    const std::shared_ptr<WebView>& homeView() const { return m_homeView; }
    const std::shared_ptr<WebView>& expensesView() const { return m_expensesView; }
    const std::shared_ptr<WebView>& reportsView() const { return m_reportsView; }
    bool isCreated() const { return m_isCreated; }
    PollNavigationTracker& tracker() { return m_tracker; }

private:
    enum class VisibilityOverride { no,
        yes };

    std::shared_ptr<WebView> makeHiddenWebView(const std::string& url, VisibilityOverride);
    Task<void> reload(std::shared_ptr<WebView>, std::optional<std::string> pinnedURL, bool& hasCommitted);

    WebEngine& m_engine;
    const Endpoints& m_endpoints;
    PollSession& m_session;
    PollWebViewUIHandler m_uiHandler;
    PollNavigationTracker m_tracker;
    std::shared_ptr<WebView> m_homeView;
    std::shared_ptr<WebView> m_expensesView;
    std::shared_ptr<WebView> m_reportsView;
    bool m_isCreated { false };
    std::optional<std::string> m_homePinnedURL;
    std::optional<std::string> m_expensesPinnedURL;
    std::optional<std::string> m_reportsPinnedURL;
};

}

#pragma once

#include "base/Signal.h"
#include "base/TaskGroup.h"
#include "base/Time.h"
#include "session/CountsPoller.h"
#include "session/DownloadController.h"
#include "session/Endpoints.h"
#include "session/SessionRecovery.h"
#include "session/SignInAutomation.h"
#include "session/WebEngine.h"
#include "session/WebProcessRestartLimit.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

class BackgroundSession;
class CountsPoller;
class DownloadAnnouncer;
class DownloadsFolder;
class ExternalOpener;
class KeychainStore;
class LockController;
class NetworkPathMonitor;
class OpenPanel;
class PollBrowser;
class RosterReader;
class RunLoop;
class SettingsStore;
class WakeMonitor;

// Owns the web view in which the user works with Workday and decides what it may do: which
// navigations stay, go to the default browser, are blocked or become downloads; signing in by
// itself within strict limits; bringing back an ended, broken or offline session. It is the
// client (navigation, UI, download and script-message delegate) of every view it makes.
class WorkdayWebCoordinator final : public WebViewClient {
public:
    // The rest of the application, as far as the session calls into it.
    struct Collaborators {
        CountsPoller& poller;
        PollBrowser& pollBrowser;
        LockController& lockController;
        BackgroundSession& backgroundSession;
        RosterReader& rosterReader;
        ExternalOpener& externalOpener;
        OpenPanel& openPanel;
        DownloadsFolder& downloadsFolder;
        DownloadAnnouncer& downloadAnnouncer;
    };

    static constexpr const char* userAgent = Endpoints::userAgent;
    static constexpr const char* authMessageName = "workdayAuth";
    static constexpr const char* learnedTaskURLKey = CountsPoller::learnedTaskURLKey;
    static constexpr const char* learnedNotificationURLKey = CountsPoller::learnedNotificationURLKey;

    WorkdayWebCoordinator(RunLoop&, SettingsStore&, Endpoints, WebEngine&, KeychainStore&, NetworkPathMonitor&, WakeMonitor&, Collaborators);
    ~WorkdayWebCoordinator() override;

    WorkdayWebCoordinator(const WorkdayWebCoordinator&) = delete;
    WorkdayWebCoordinator& operator=(const WorkdayWebCoordinator&) = delete;

    const std::shared_ptr<WebView>& webView() const { return m_webView; }
    const Endpoints& endpoints() const { return m_endpoints; }
    // Observers are told before the back/forward state or the URL may change, and re-read the
    // web view.
    [[nodiscard]] Connection observeNavigationStateRevision(std::function<void()> observer) { return m_navigationStateRevisionWillChange.connect(std::move(observer)); }
    long long mainNavigationCount() const { return m_mainNavigationCount; }
    bool isRecoveryInProgress() const { return m_recovery.isRecoveryInProgress(); }
    std::optional<MonotonicTime> lastRecoveryAttempt() const { return m_recovery.lastRecoveryAttempt(); }
    bool isPasswordWithheld() const { return m_signIn.isPasswordWithheld(); }

    SignInAutomation& signIn() { return m_signIn; }
    SessionRecovery& recovery() { return m_recovery; }
    DownloadController& downloads() { return m_downloads; }

    // A new view configured for Workday (user agent, sign-in script, "workdayAuth" channel)
    // whose client is this coordinator. 0 x 0 lets the window decide its size.
    std::shared_ptr<WebView> makeWebView(int width = 0, int height = 0);
    void attach(std::shared_ptr<WebView>);
    // The view the main window shows: the attached one, else the background session's, else a
    // new one that starts signing in.
    std::shared_ptr<WebView> webViewForMainWindow();

    void loadHome();
    void loadEntry(WebView&);
    bool isOnHomePage() const;
    // A tap on a toolbar count bubble: clicks the matching control on the home page and learns
    // the page it leads to.
    void clickAutomationID(const std::string& automationID, const std::string& kind);
    void navigate(const std::string& urlString);
    void recoverSession(const std::optional<URL>& url) { m_recovery.recoverSession(url); }

    // The URL a link activation should open in the default browser, if any.
    std::optional<URL> externalURL(const std::optional<URL>&, NavigationType) const;
    bool openExternallyIfNeeded(const NavigationAction&);
    void noteSessionState(const std::optional<URL>&);
    void urlDidChange(const std::optional<URL>& oldURL, const std::optional<URL>& newURL);
    void captureBadgeLink(const std::optional<URL>&);
    void closeAppBanner(WebView&);
    void schedulePageLoadRefresh();

    // WebViewClient
    NavigationActionPolicy decidePolicyForNavigationAction(WebView&, const NavigationAction&) override;
    void didStartMainFrameNavigation(WebView&, const NavigationAction&) override;
    NavigationResponsePolicy decidePolicyForNavigationResponse(WebView&, const NavigationResponse&) override;
    void didStartProvisionalNavigation(WebView&, NavigationID) override;
    void didReceiveServerRedirectForProvisionalNavigation(WebView&, NavigationID) override;
    void didCommitNavigation(WebView&, NavigationID) override;
    void didFinishNavigation(WebView&, NavigationID) override;
    void didFailNavigation(WebView&, NavigationID, const WebError&) override;
    void didFailProvisionalNavigation(WebView&, NavigationID, const WebError&) override;
    void didRequestNewWebView(WebView&, const NavigationAction&) override;
    void runOpenPanel(WebView&, const OpenPanelParameters&, OpenPanelCompletion) override;
    std::optional<std::filesystem::path> decideDestination(Download&, const std::string& suggestedFilename) override;
    void downloadDidFinish(Download&) override;
    void downloadDidFail(Download&, const WebError&) override;
    void didReceiveScriptMessage(const ScriptMessage&, ScriptReplyHandler) override;
    void webProcessDidTerminate(WebView&, WebProcessTermination) override;

private:
    void navigationStateWillChange();
    Task<void> refreshAfterPageLoad();
    Task<void> closeAppBannerLater(std::shared_ptr<WebView>);

    RunLoop& m_loop;
    SettingsStore& m_settings;
    const Endpoints m_endpoints;
    WebEngine& m_engine;
    Collaborators m_collaborators;
    // Built once: the SSO hosts never change while the application runs.
    const std::string m_signInPageScript;
    std::vector<std::weak_ptr<WebView>> m_madeViews;

    std::shared_ptr<WebView> m_webView;
    Signal<> m_navigationStateRevisionWillChange;
    Connection m_urlObservation;
    std::optional<std::string> m_badgeTapKind;
    std::optional<MonotonicTime> m_badgeTapDate;
    TaskHandle m_pageLoadRefresh;
    long long m_mainNavigationCount { 0 };
    WebProcessRestartLimit m_webProcessRestarts;

    // Declared last: they use the fields above, and their tasks end before those go away.
    TaskGroup m_tasks;
    SignInAutomation m_signIn;
    SessionRecovery m_recovery;
    DownloadController m_downloads;
};

}

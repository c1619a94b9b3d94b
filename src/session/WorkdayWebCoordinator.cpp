#include "WorkdayWebCoordinator.h"

#include "BackgroundSession.h"
#include "CountsPoller.h"
#include "ExternalOpener.h"
#include "LockController.h"
#include "LogFormatting.h"
#include "OpenPanel.h"
#include "PageScripts.h"
#include "PollBrowser.h"
#include "RosterReader.h"
#include "base/Localization.h"
#include "base/Log.h"
#include "base/RunLoop.h"
#include "base/SettingsStore.h"

#include <algorithm>
#include <cctype>

namespace halcyra {

namespace {

    constexpr Seconds badgeTapLifetime { 5.0 };
    constexpr Seconds pageLoadRefreshDelay { 3 };
    constexpr Seconds appBannerDelay { 3 };

    std::string lowercased(std::string text)
    {
        std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    // The click script takes the id verbatim inside a selector; Workday's automation ids are
    // plain words, and nothing else is let in.
    bool isPlainAutomationID(const std::string& automationID)
    {
        return !automationID.empty() && std::ranges::all_of(automationID, [](unsigned char c) {
            return std::isalnum(c) || c == '_' || c == '-';
        });
    }

    std::string escapedHTML(const std::string& text)
    {
        std::string escaped;
        for (char c : text) {
            switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
            }
        }
        return escaped;
    }

    // Shown in place of the page once its web process has ended too often to bring it back alone.
    std::string stoppedPage(const URL& reloadURL)
    {
        std::string title = escapedHTML(_("Workday Stopped"));
        std::string page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title + "</title><style>";
        page += "body{font:15px system-ui,sans-serif;max-width:36em;margin:15vh auto;padding:0 1em;text-align:center;color:#333}";
        page += "a{display:inline-block;margin-top:1em;padding:.5em 1.5em;border-radius:6px;background:#3584e4;color:#fff;text-decoration:none}";
        page += "</style></head><body><h1>" + title + "</h1><p>";
        page += escapedHTML(_("The part of Halcyra that shows Workday stopped three times within five minutes, so the page is no "
                              "longer reloaded by itself. This happens when the computer runs short of memory or the web engine crashes."));
        page += "</p><a href=\"" + escapedHTML(reloadURL.string()) + "\">" + escapedHTML(_("Reload")) + "</a></body></html>";
        return page;
    }

}

WorkdayWebCoordinator::WorkdayWebCoordinator(RunLoop& loop, SettingsStore& settings, Endpoints endpoints, WebEngine& engine, KeychainStore& keychain, NetworkPathMonitor& networkPathMonitor, WakeMonitor& wakeMonitor, Collaborators collaborators)
    : m_loop(loop)
    , m_settings(settings)
    , m_endpoints(std::move(endpoints))
    , m_engine(engine)
    , m_collaborators(collaborators)
    , m_signInPageScript(signInPageScript(m_endpoints.ssoHosts()))
    , m_tasks(loop)
    , m_signIn(*this, loop, settings, keychain, collaborators.poller, collaborators.lockController)
    , m_recovery(*this, loop, networkPathMonitor, wakeMonitor, collaborators.poller, m_signIn)
    , m_downloads(collaborators.downloadsFolder, collaborators.downloadAnnouncer)
{
}

WorkdayWebCoordinator::~WorkdayWebCoordinator()
{
    m_urlObservation.disconnect();
    for (auto& weakView : m_madeViews) {
        if (auto view = weakView.lock())
            view->setClient(nullptr);
    }
}

std::shared_ptr<WebView> WorkdayWebCoordinator::makeWebView(int width, int height)
{
    WebViewConfiguration configuration;
    configuration.width = width;
    configuration.height = height;
    configuration.userAgent = userAgent;
    configuration.scriptMessageHandlerNames = { authMessageName };
    configuration.userScripts = { m_signInPageScript };

    auto view = m_engine.makeWebView(configuration);
    view->setClient(this);
    std::erase_if(m_madeViews, [](auto& weakView) { return weakView.expired(); });
    m_madeViews.push_back(view);
    return view;
}

void WorkdayWebCoordinator::attach(std::shared_ptr<WebView> webView)
{
    m_webView = std::move(webView);
    // Written by early releases only; nothing reads it any more.
    m_settings.removeValue("ssoLoginPendingConfirmation");
    m_recovery.startMonitoring();
    m_collaborators.poller.attach(m_webView);
    m_collaborators.rosterReader.attach(m_webView);
    m_urlObservation = m_webView->observeURL([this](const std::optional<URL>& oldURL, const std::optional<URL>& newURL) {
        urlDidChange(oldURL, newURL);
    });
}

std::shared_ptr<WebView> WorkdayWebCoordinator::webViewForMainWindow()
{
    auto& backgroundSession = m_collaborators.backgroundSession;
    auto view = m_webView ? m_webView : backgroundSession.webView();
    if (!view) {
        view = makeWebView();
        attach(view);
        if (!backgroundSession.webView())
            backgroundSession.setWebView(view);
        loadEntry(*view);
    }
    if (!backgroundSession.webView())
        backgroundSession.setWebView(view);
    return view;
}

void WorkdayWebCoordinator::loadHome()
{
    if (m_webView)
        m_webView->load(m_endpoints.homeURL());
}

void WorkdayWebCoordinator::loadEntry(WebView& webView)
{
    logLaunchStep("first request");
    webView.load(m_endpoints.entryURL());
}

bool WorkdayWebCoordinator::isOnHomePage() const
{
    return m_webView && m_endpoints.isHomeURL(m_webView->url());
}

void WorkdayWebCoordinator::navigationStateWillChange()
{
    m_navigationStateRevisionWillChange.notify();
}

std::optional<URL> WorkdayWebCoordinator::externalURL(const std::optional<URL>& url, NavigationType navigationType) const
{
    if (navigationType != NavigationType::linkActivated)
        return std::nullopt;
    if (!url || url->scheme().empty())
        return std::nullopt;
    auto scheme = lowercased(url->scheme());
    if (scheme != "https" && scheme != "http")
        return std::nullopt;
    if (!url->host() || url->host()->empty())
        return std::nullopt;
    auto host = lowercased(*url->host());
    bool isDefaultPort = !url->port() || *url->port() == 443;
    if (scheme == "https" && isDefaultPort) {
        auto allowedHosts = m_endpoints.allowedInAppHosts();
        if (std::ranges::find(allowedHosts, host) != allowedHosts.end() || m_endpoints.isDuoAPIHost(host))
            return std::nullopt;
    }
    return url;
}

bool WorkdayWebCoordinator::openExternallyIfNeeded(const NavigationAction& action)
{
    auto url = externalURL(action.requestURL, action.type);
    if (!url)
        return false;
    auto& lockController = m_collaborators.lockController;
    auto* gate = lockController.gate();
    if (gate && lockController.isLocked()) {
        gate->authenticate([&opener = m_collaborators.externalOpener, url = *url](bool succeeded) {
            if (succeeded)
                opener.openExternally(url);
        });
        return true;
    }
    m_collaborators.externalOpener.openExternally(*url);
    return true;
}

NavigationActionPolicy WorkdayWebCoordinator::decidePolicyForNavigationAction(WebView&, const NavigationAction& action)
{
    if (openExternallyIfNeeded(action))
        return NavigationActionPolicy::cancel;
    noteSessionState(action.requestURL);
    bool isForMainFrame = action.hasTargetFrame && action.isTargetMainFrame;
    if (isForMainFrame)
        ++m_mainNavigationCount;
    logVerbose(std::string("[Workday] decidePolicy type=") + navigationTypeName(action.type) + " url=" + redactedURL(action.requestURL));
    if (action.type == NavigationType::backForward && m_endpoints.isSignInFlowURL(action.requestURL)) {
        logVerbose("[Workday] BLOCKED back/forward nav to " + redactedURL(action.requestURL));
        return NavigationActionPolicy::cancel;
    }
    if (action.type == NavigationType::formSubmitted && action.requestURL && action.requestURL->host() == m_endpoints.ssoHost)
        logLaunchStep("CAS form submitted");
    if (action.shouldPerformDownload)
        return NavigationActionPolicy::download;
    if (isForMainFrame)
        captureBadgeLink(action.requestURL);
    return NavigationActionPolicy::allow;
}

void WorkdayWebCoordinator::didStartMainFrameNavigation(WebView&, const NavigationAction& action)
{
    // The main-frame steps of the navigation policy, for an action whose frame the engine could
    // not tell when it asked: a subframe's navigation neither counts nor consumes a bubble tap.
    ++m_mainNavigationCount;
    captureBadgeLink(action.requestURL);
}

NavigationResponsePolicy WorkdayWebCoordinator::decidePolicyForNavigationResponse(WebView&, const NavigationResponse& response)
{
    m_signIn.checkUnauthorized(response);
    return m_downloads.responsePolicy(response);
}

void WorkdayWebCoordinator::didStartProvisionalNavigation(WebView&, NavigationID)
{
    m_recovery.cancelLoadRetry();
    navigationStateWillChange();
}

void WorkdayWebCoordinator::didReceiveServerRedirectForProvisionalNavigation(WebView& webView, NavigationID)
{
    noteSessionState(webView.url());
    navigationStateWillChange();
}

void WorkdayWebCoordinator::didCommitNavigation(WebView& webView, NavigationID)
{
    auto url = webView.url();
    if (auto host = url ? url->host() : std::nullopt) {
        if (*host == m_endpoints.ssoHost)
            logLaunchStep("CAS page committed");
        else if (m_endpoints.isDuoAPIHost(*host))
            logLaunchStep("Duo page committed");
        else if (m_endpoints.isHomeURL(url))
            logLaunchStep("home committed");
    }
    // Built once the home page has committed, not when it is asked for: the hidden views share
    // the main view's web process only while the main view is on the tenant's own site.
    if (m_endpoints.isHomeURL(url))
        m_collaborators.pollBrowser.createIfNeeded();
    m_signIn.confirmSignIn(url);
    m_recovery.noteRecoveryOutcome(url);
    if (m_endpoints.isRememberDevicePage(url))
        m_signIn.answerRememberDevice(webView);
}

void WorkdayWebCoordinator::didFinishNavigation(WebView& webView, NavigationID)
{
    m_webProcessRestarts.notePageLoaded();
    auto url = webView.url();
    noteSessionState(url);
    m_recovery.resetLoadRetryDelay();
    navigationStateWillChange();
    closeAppBanner(webView);
    m_recovery.checkBrokenFlow(webView);
    auto& poller = m_collaborators.poller;
    if (poller.isSignInBlocked(url))
        poller.setState(PollState::notSignedIn());
    if (url && url->host() && m_endpoints.isWorkdayHost(*url->host()))
        schedulePageLoadRefresh();
}

void WorkdayWebCoordinator::didFailNavigation(WebView& webView, NavigationID, const WebError& error)
{
    m_recovery.handleLoadFailure(webView, error);
}

void WorkdayWebCoordinator::didFailProvisionalNavigation(WebView& webView, NavigationID, const WebError& error)
{
    m_recovery.handleLoadFailure(webView, error);
}

void WorkdayWebCoordinator::didRequestNewWebView(WebView& webView, const NavigationAction& action)
{
    if (openExternallyIfNeeded(action))
        return;
    // Never a second view: the page opens where the user already is, with its own request (a
    // form's POST stays a POST). Without one, its address is all there is to load.
    if (action.request)
        webView.load(*action.request);
    else if (action.requestURL)
        webView.load(*action.requestURL);
}

void WorkdayWebCoordinator::runOpenPanel(WebView& webView, const OpenPanelParameters& parameters, OpenPanelCompletion completion)
{
    m_collaborators.openPanel.run(webView, parameters, std::move(completion));
}

std::optional<std::filesystem::path> WorkdayWebCoordinator::decideDestination(Download& download, const std::string& suggestedFilename)
{
    return m_downloads.decideDestination(download, suggestedFilename);
}

void WorkdayWebCoordinator::downloadDidFinish(Download& download)
{
    m_downloads.downloadDidFinish(download);
}

void WorkdayWebCoordinator::downloadDidFail(Download& download, const WebError& error)
{
    m_downloads.downloadDidFail(download, error);
}

void WorkdayWebCoordinator::didReceiveScriptMessage(const ScriptMessage& message, ScriptReplyHandler reply)
{
    m_signIn.handleAuthMessage(message, std::move(reply));
}

void WorkdayWebCoordinator::webProcessDidTerminate(WebView& webView, WebProcessTermination termination)
{
    if (&webView != m_webView.get())
        return;
    // The hidden views shared the ended process: built again once the home page commits, in the
    // main view's new process.
    m_collaborators.pollBrowser.discard();
    auto url = webView.url();
    bool isInApp = url && url->scheme() == "https" && !externalURL(url, NavigationType::linkActivated);
    auto reloadURL = isInApp ? *url : m_endpoints.entryURL();
    std::string reason = webProcessTerminationName(termination);
    switch (m_webProcessRestarts.noteEnd(m_loop.now())) {
    case WebProcessRestartLimit::Decision::stayStopped:
        logError("[Workday] the web process " + reason + " again before any page loaded; nothing more is loaded");
        return;
    case WebProcessRestartLimit::Decision::stop:
        logError("[Workday] the web process " + reason + " for the third time within five minutes; not reloading " + redactedURL(reloadURL));
        webView.loadHTML(stoppedPage(reloadURL));
        return;
    case WebProcessRestartLimit::Decision::reload:
        break;
    }
    logError("[Workday] the web process " + reason + "; reloading " + redactedURL(reloadURL));
    // Loaded anew rather than reloaded, so that a form's POST is never sent again.
    webView.load(reloadURL);
}

void WorkdayWebCoordinator::noteSessionState(const std::optional<URL>& url)
{
    if (!url || !url->host())
        return;
    // Workday content is not shown before the user authenticates, whether or not a window
    // shows it yet.
    if (m_endpoints.isHomeURL(url) && m_webView)
        m_collaborators.lockController.homePageReached();
}

void WorkdayWebCoordinator::urlDidChange(const std::optional<URL>& oldURL, const std::optional<URL>& newURL)
{
    if (!oldURL || !newURL || *oldURL == *newURL)
        return;
    logVerbose("[Workday] URL(kvo) " + redactedURL(oldURL) + " -> " + redactedURL(newURL));
    // The offline retry's own URL changes are not navigations of the user's.
    bool isRetryURL = m_recovery.isLoadRetryURL(*oldURL) || m_recovery.isLoadRetryURL(*newURL);
    if (!isRetryURL)
        ++m_mainNavigationCount;
    navigationStateWillChange();
    if (m_endpoints.isHomeURL(oldURL) && newURL->host() == m_endpoints.tenantHost && !m_endpoints.isHomeURL(newURL))
        captureBadgeLink(newURL);
}

void WorkdayWebCoordinator::clickAutomationID(const std::string& automationID, const std::string& kind)
{
    if (!isOnHomePage() || !isPlainAutomationID(automationID))
        return;
    m_badgeTapKind = kind;
    m_badgeTapDate = m_loop.now();
    m_webView->evaluateJavaScript(clickScript(automationID), [](ScriptReply) {});
}

void WorkdayWebCoordinator::captureBadgeLink(const std::optional<URL>& url)
{
    if (!m_badgeTapKind || !m_badgeTapDate)
        return;
    // Every navigation after a tap consumes it, learned or not.
    auto kind = *std::exchange(m_badgeTapKind, std::nullopt);
    auto tapDate = *std::exchange(m_badgeTapDate, std::nullopt);

    if (m_loop.now() - tapDate >= badgeTapLifetime)
        return;
    if (!url || url->host() != m_endpoints.tenantHost || m_endpoints.isHomeURL(url))
        return;

    if (kind == "task") {
        m_collaborators.poller.setTaskURL(url->string());
        m_settings.setString(learnedTaskURLKey, url->string());
    } else if (kind == "notification") {
        m_collaborators.poller.setNotificationURL(url->string());
        m_settings.setString(learnedNotificationURLKey, url->string());
    }
    logVerbose("[Workday] captured " + kind + " badge link: " + redactedURL(url));
}

void WorkdayWebCoordinator::navigate(const std::string& urlString)
{
    auto url = URL::parse(urlString);
    if (!m_webView || !url) {
        logVerbose("[Workday] navigate: invalid URL");
        return;
    }
    logVerbose("[Workday] navigate(full load) -> " + redactedURL(url));
    m_webView->load(*url);
}

void WorkdayWebCoordinator::closeAppBanner(WebView& webView)
{
    auto url = webView.url();
    if (!url || !url->host() || !m_endpoints.isWorkdayHost(*url->host()))
        return;
    m_tasks.spawn(closeAppBannerLater(webView.shared_from_this()));
}

Task<void> WorkdayWebCoordinator::closeAppBannerLater(std::shared_ptr<WebView> webView)
{
    bool hasElapsed = co_await sleep(m_loop, appBannerDelay);
    if (!hasElapsed)
        co_return;
    co_await evaluate(*webView, std::string(appBannerScript()));
}

void WorkdayWebCoordinator::schedulePageLoadRefresh()
{
    m_pageLoadRefresh.cancel();
    m_pageLoadRefresh = m_tasks.spawn(refreshAfterPageLoad());
}

Task<void> WorkdayWebCoordinator::refreshAfterPageLoad()
{
    bool hasElapsed = co_await sleep(m_loop, pageLoadRefreshDelay);
    if (!hasElapsed)
        co_return;
    m_pageLoadRefresh = {};
    co_await m_collaborators.poller.refresh();
}

}

#include "OffScreenHost.h"

#include "base/Log.h"
#include "base/SettingsStore.h"
#include "session/WorkdayWebCoordinator.h"

namespace halcyra {

namespace {

    constexpr Seconds launchFallbackDelay { 3.0 };
    constexpr int offScreenWidth = 800;
    constexpr int offScreenHeight = 900;

}

OffScreenHost::OffScreenHost(RunLoop& runLoop, SettingsStore& settings)
    : m_runLoop(runLoop)
    , m_settings(settings)
    , m_tasks(runLoop)
{
}

OffScreenHost::~OffScreenHost() = default;

bool OffScreenHost::isHiddenOnLaunch() const
{
    return m_settings.boolean(hideOnLaunchKey).value_or(false);
}

void OffScreenHost::setWebView(std::shared_ptr<WebView> webView)
{
    // The view is recorded once and never replaced.
    if (!m_webView)
        m_webView = std::move(webView);
}

void OffScreenHost::hostOffScreen(WorkdayWebCoordinator& coordinator)
{
    if (m_webView) {
        if (!m_webView->url())
            coordinator.loadEntry(*m_webView);
        return;
    }
    auto webView = coordinator.makeWebView(offScreenWidth, offScreenHeight);
    coordinator.attach(webView);
    coordinator.loadEntry(*webView);
    m_webView = webView;
    m_webView->hostOffScreen();
    m_isHostedOffScreen = true;
}

void OffScreenHost::endOffScreenHosting()
{
    if (!m_isHostedOffScreen)
        return;
    m_webView->endOffScreenHosting();
    m_isHostedOffScreen = false;
}

void OffScreenHost::startAfterLaunch(WorkdayWebCoordinator& coordinator, std::function<bool()> hasMainWindow)
{
    if (isHiddenOnLaunch()) {
        hostOffScreen(coordinator);
        return;
    }
    m_tasks.spawn(hostUnlessAMainWindowAppears(coordinator, std::move(hasMainWindow)));
}

// The coordinator goes only at shutdown, with no turn of the loop before this host and its
// waiting task go too.
Task<void> OffScreenHost::hostUnlessAMainWindowAppears(WorkdayWebCoordinator& coordinator, std::function<bool()> hasMainWindow)
{
    bool hasElapsed = co_await sleep(m_runLoop, launchFallbackDelay);
    if (!hasElapsed || hasMainWindow())
        co_return;
    logVerbose("[App] no main window 3.0 seconds after launch; loading Workday in the background");
    hostOffScreen(coordinator);
}

}

#pragma once

#include "base/RunLoop.h"
#include "base/TaskGroup.h"
#include "session/BackgroundSession.h"
#include "session/WebEngine.h"

#include <functional>
#include <memory>

namespace halcyra {

class SettingsStore;
class WorkdayWebCoordinator;

// Keeps the main web view alive, signed in and running while no window shows it. Whichever of
// this host and the main window first needs the view creates it; the other reuses it. The
// coordinator receives this host as its background session, so it is made after it: hosting is
// handed the coordinator whose view it makes.
class OffScreenHost final : public BackgroundSession {
public:
    static constexpr const char* hideOnLaunchKey = "hideOnLaunch";

    OffScreenHost(RunLoop&, SettingsStore&);
    ~OffScreenHost() override;

    std::shared_ptr<WebView> webView() const override { return m_webView; }
    void setWebView(std::shared_ptr<WebView> webView) override;
    void endOffScreenHosting() override;

    // Starts the background session: makes, attaches and loads the main web view and hosts it
    // off screen; with a view already made, only loads the entry page into a view without one.
    void hostOffScreen(WorkdayWebCoordinator&);
    bool isHostedOffScreen() const { return m_isHostedOffScreen; }

    // At launch: host at once when "hideOnLaunch" is on, otherwise only if no main window has
    // appeared 3 seconds later.
    void startAfterLaunch(WorkdayWebCoordinator&, std::function<bool()> hasMainWindow);
    // The user's choice to start in the background, without a window.
    bool isHiddenOnLaunch() const;

private:
    Task<void> hostUnlessAMainWindowAppears(WorkdayWebCoordinator&, std::function<bool()> hasMainWindow);

    RunLoop& m_runLoop;
    SettingsStore& m_settings;
    std::shared_ptr<WebView> m_webView;
    bool m_isHostedOffScreen { false };
    TaskGroup m_tasks;
};

}

#include "session/OffScreenHost.h"
#include "support/DemoEndpoints.h"
#include "support/FakeCoordinatorCollaborators.h"
#include "support/FakeKeychain.h"
#include "support/FakeWebEngine.h"
#include "support/LogCapture.h"
#include "support/VirtualRunLoop.h"

#include "base/SettingsStore.h"
#include "credentials/KeychainStore.h"
#include "session/DownloadsFolder.h"
#include "session/WorkdayWebCoordinator.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

// The background host with the real coordinator over the fake engine.
class OffScreenHostTest : public testing::Test, protected FakeCoordinatorCollaborators {
protected:
    OffScreenHostTest()
        : keychainStore(keychain, settings)
        , host(loop, settings)
        , coordinator(loop, settings, demoEndpoints(), engine, keychainStore, networkPathMonitor, wakeMonitor,
              collaborators(host))
    {
        host.setCoordinator(&coordinator);
    }

    size_t viewCount() const { return engine.views().size(); }

    VirtualRunLoop loop;
    MemorySettingsStore settings;
    FakeKeychain keychain;
    KeychainStore keychainStore;
    FakeWebEngine engine;
    OffScreenHost host;
    WorkdayWebCoordinator coordinator;
    bool hasMainWindow { false };
};

}

TEST_F(OffScreenHostTest, hiddenLaunchSignsInOffScreenAndTheWindowLaterTakesTheSameView)
{
    settings.setBoolean("hideOnLaunch", true);
    host.startAfterLaunch([this] { return hasMainWindow; });

    ASSERT_EQ(viewCount(), 1u);
    auto& view = engine.lastView();
    EXPECT_EQ(coordinator.webView().get(), &view);
    EXPECT_TRUE(view.isHostedOffScreen());
    EXPECT_EQ(view.configuration().width, 800);
    EXPECT_EQ(view.configuration().height, 900);
    EXPECT_EQ(view.loadedURLs().front().string(), "https://workday.ashgrove.test");

    // The main window reuses the signed-in view instead of making another.
    auto windowView = coordinator.webViewForMainWindow();
    host.endOffScreenHosting();
    EXPECT_EQ(windowView.get(), &view);
    EXPECT_EQ(viewCount(), 1u);
    EXPECT_FALSE(view.isHostedOffScreen());
    EXPECT_FALSE(host.isHostedOffScreen());
}

TEST_F(OffScreenHostTest, aMainWindowWithinThreeSecondsMeansNoBackgroundHost)
{
    LogCapture log;
    host.startAfterLaunch([this] { return hasMainWindow; });
    loop.advance(2s);
    coordinator.webViewForMainWindow();
    hasMainWindow = true;
    loop.advance(2s);

    EXPECT_EQ(viewCount(), 1u);
    EXPECT_FALSE(engine.lastView().isHostedOffScreen());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(OffScreenHostTest, noMainWindowAfterThreeSecondsLoadsWorkdayInTheBackgroundOnce)
{
    LogCapture log;
    host.startAfterLaunch([this] { return hasMainWindow; });
    loop.advance(2.9s);
    EXPECT_EQ(viewCount(), 0u);
    loop.advance(0.1s);

    ASSERT_EQ(viewCount(), 1u);
    EXPECT_TRUE(engine.lastView().isHostedOffScreen());
    EXPECT_EQ(log.lines(), std::vector<std::string> { "[App] no main window 3.0 seconds after launch; loading Workday in the background" });

    // Hosting again never makes a second view; it only loads a view that has no page.
    host.hostOffScreen();
    EXPECT_EQ(viewCount(), 1u);
    EXPECT_EQ(engine.lastView().loadedURLs().size(), 2u);
}

#include "session/OffScreenHost.h"
#include "support/LogCapture.h"
#include "support/SessionHarness.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

// The background host with the real coordinator over the fake engine.
class OffScreenHostTest : public testing::Test {
protected:
    OffScreenHostTest() { session.start(host); }
    ~OffScreenHostTest() override { session.coordinator.reset(); }

    size_t viewCount() { return session.engine.views().size(); }

    SessionHarness session { SessionHarness::Unstarted {} };
    OffScreenHost host { session.loop, session.settings };
    LogCapture log;
    bool hasMainWindow { false };
};

}

TEST_F(OffScreenHostTest, hiddenLaunchSignsInOffScreenAndTheWindowLaterTakesTheSameView)
{
    session.settings.setBoolean("hideOnLaunch", true);
    host.startAfterLaunch(*session.coordinator, [this] { return hasMainWindow; });

    ASSERT_EQ(viewCount(), 1u);
    auto& view = session.engine.lastView();
    EXPECT_TRUE(view.isHostedOffScreen());
    EXPECT_EQ(view.configuration().width, 800);
    EXPECT_EQ(view.configuration().height, 900);
    EXPECT_EQ(view.loadedURLs().front().string(), "https://workday.ashgrove.test");

    // The main window reuses the signed-in view instead of making another.
    auto windowView = session.coordinator->webViewForMainWindow();
    host.endOffScreenHosting();
    EXPECT_EQ(windowView.get(), &view);
    EXPECT_FALSE(view.isHostedOffScreen());
}

TEST_F(OffScreenHostTest, aMainWindowWithinThreeSecondsMeansNoBackgroundHost)
{
    host.startAfterLaunch(*session.coordinator, [this] { return hasMainWindow; });
    session.loop.advance(2s);
    session.coordinator->webViewForMainWindow();
    hasMainWindow = true;
    session.loop.advance(2s);

    EXPECT_FALSE(session.engine.lastView().isHostedOffScreen());
}

TEST_F(OffScreenHostTest, noMainWindowAfterThreeSecondsLoadsWorkdayInTheBackgroundOnce)
{
    host.startAfterLaunch(*session.coordinator, [this] { return hasMainWindow; });
    session.loop.advance(2.9s);
    EXPECT_EQ(viewCount(), 0u);
    session.loop.advance(0.1s);

    ASSERT_EQ(viewCount(), 1u);
    EXPECT_TRUE(session.engine.lastView().isHostedOffScreen());
    EXPECT_EQ(log.lines(), std::vector<std::string> { "[App] no main window 3.0 seconds after launch; loading Workday in the background" });

    // Hosting again never makes a second view; it only loads a view that has no page.
    host.hostOffScreen(*session.coordinator);
    EXPECT_EQ(viewCount(), 1u);
    EXPECT_EQ(session.engine.lastView().loadedURLs().size(), 2u);
}

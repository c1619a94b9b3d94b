#include "support/CountsHarness.h"
#include "support/LogCapture.h"

#include "counts/CountScripts.h"
#include "counts/PollNavigationTracker.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

    TEST(PollWebViewTest, threeHiddenViewsAreBuiltOnceSharingTheMainViewsProcess)
    {
        CountsHarness harness;
        EXPECT_FALSE(harness.pollWebView.isCreated());
        for (int call = 0; call < 3; ++call)
            harness.pollWebView.createIfNeeded();

        ASSERT_EQ(harness.engine.views().size(), 4u); // the main view and three hidden ones
        const std::vector<std::string> pinned {
            "https://wd5.myworkday.test/ashgrove/d/home.htmld",
            "https://wd5.myworkday.test/ashgrove/d/task/2997$1705.htmld",
            "https://wd5.myworkday.test/ashgrove/d/task/2997$728.htmld",
        };
        for (size_t index = 0; index < 3; ++index) {
            auto& view = harness.hidden(index);
            auto& configuration = view.configuration();
            EXPECT_EQ(configuration.width, 800);
            EXPECT_EQ(configuration.height, 900);
            EXPECT_EQ(configuration.userAgent, "MyApp/1.0 (Workday Task Viewer)");
            EXPECT_EQ(configuration.relatedView, harness.mainView);
            EXPECT_TRUE(configuration.isNeverShown);
            EXPECT_TRUE(configuration.scriptMessageHandlerNames.empty());
            EXPECT_TRUE(view.isHostedOffScreen());
            EXPECT_EQ(view.client(), &harness.pollWebView.tracker());
            ASSERT_EQ(view.loadedURLs().size(), 1u);
            EXPECT_EQ(view.loadedURLs()[0].string(), pinned[index]);
            // Only the report grid is told it is visible.
            bool isReports = index == 2;
            EXPECT_EQ(configuration.userScripts, isReports ? std::vector { std::string(visibilityOverrideScript()) } : std::vector<std::string> {});
        }
        EXPECT_EQ(harness.pollWebView.reportsPinnedURL(), pinned[2]);
    }

    TEST(PollWebViewTest, reloadAllWaitsForEachLoadToCommitFailOrTakeTenSeconds)
    {
        CountsHarness harness;
        bool hasReturned = false;
        auto reload = [&]() -> Task<void> {
            co_await harness.pollWebView.reloadAll();
            hasReturned = true;
        };

        // Before the views exist there is nothing to wait for.
        spawn(harness.loop, reload());
        EXPECT_TRUE(hasReturned);

        harness.pollWebView.createIfNeeded();
        LogCapture log;
        hasReturned = false;
        spawn(harness.loop, reload());
        // Each view's second load (the first is the initial one) is navigation 2.
        harness.homeView().commit(2, url("https://wd5.myworkday.test/ashgrove/d/home.htmld"));
        harness.expensesView().fail(2, { "WebKitNetworkError", 302, std::nullopt });
        EXPECT_FALSE(hasReturned);
        harness.loop.advance(9.9s);
        EXPECT_FALSE(hasReturned);
        harness.loop.advance(0.1s);
        EXPECT_TRUE(hasReturned);
        EXPECT_EQ(log.lines(), std::vector<std::string> { "[PollWebView] timed out waiting for https://wd5.myworkday.test to commit" });

        // A commit after the time-out resumes nobody twice and writes nothing.
        harness.reportsView().commit(2, url("https://wd5.myworkday.test/ashgrove/d/task/2997$728.htmld"));
        EXPECT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(harness.pollWebView.tracker().waiterCount(), 0u);

        // Two loads in one view before either commits: the second one's commit resumes both
        // callers, and the first one's late commit nobody.
        auto view = harness.pollWebView.homeView();
        int resumed = 0;
        auto load = [&]() -> Task<void> {
            co_await harness.pollWebView.tracker().load(url("https://wd5.myworkday.test/ashgrove/d/home.htmld"), view);
            ++resumed;
        };
        spawn(harness.loop, load()); // navigation 3
        spawn(harness.loop, load()); // navigation 4
        harness.homeView().commit(3, url("https://wd5.myworkday.test/ashgrove/d/home.htmld"));
        EXPECT_EQ(resumed, 0);
        harness.homeView().commit(4, url("https://wd5.myworkday.test/ashgrove/d/home.htmld"));
        EXPECT_EQ(resumed, 2);
    }

    TEST(PollWebViewTest, aHiddenPageShowingTheSessionEndedStartsRecovery)
    {
        CountsHarness harness;
        harness.pollWebView.createIfNeeded();
        auto& reports = harness.reportsView();
        reports.commit(1, url("https://wd5.myworkday.test/ashgrove/d/task/2997$728.htmld"));
        EXPECT_TRUE(harness.session.recoveredURLs.empty());

        reports.commit(1, url("https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld"));
        ASSERT_EQ(harness.session.recoveredURLs.size(), 1u);
        EXPECT_EQ(harness.session.recoveredURLs[0]->path(), "/wday/authgwy/ashgrove/logout.htmld");
    }

}
}

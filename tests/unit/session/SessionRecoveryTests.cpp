#include "session/OfflineErrors.h"
#include "support/LogCapture.h"
#include "support/SessionHarness.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

    const std::string logoutPage = "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld";
    const std::string casLoginPage = demoCASPage + "?service=x";
    const std::string identityLogin = "https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login";

    class SessionRecoveryTest : public ::testing::Test {
    protected:
        size_t entryLoads() { return std::ranges::count(session.view().loadedURLs(), demoEndpoints().entryURL()); }

        WebError offlineError(std::optional<std::string> failingURL = std::nullopt, long code = urlErrorNotConnectedToInternet)
        {
            return { urlErrorDomain, code, failingURL ? std::optional(url(*failingURL)) : std::nullopt };
        }

        // A main-frame load that fails before committing, as a dropped network does.
        void failLoad(const std::string& address, long code = urlErrorNotConnectedToInternet)
        {
            session.view().decideAction({ NavigationType::other, true, true, url(address), false });
            session.view().failProvisional(session.view().startNavigation(), offlineError(address, code));
        }

        // Lands on the sign-in page and answers its broken-flow check.
        void landOnCAS(ScriptReply brokenFlowCheck)
        {
            session.land(casLoginPage);
            session.view().answerScript(std::move(brokenFlowCheck));
        }

        SessionHarness session;
        LogCapture log;
    };

    TEST_F(SessionRecoveryTest, sessionEndedPageSignsBackInOnceAndNotAgainWithin180Seconds)
    {
        session.commit(identityLogin + "?pending=mfa");
        EXPECT_EQ(entryLoads(), 0u) << "a pending sign-in step is no session end";

        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_EQ(session.poller.lastState, PollState::signingIn());
        EXPECT_TRUE(log.contains("[Workday] session ended (https://wd5.myworkday.test); signing back in"));

        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_TRUE(log.contains("[Workday] sign-in didn't complete (https://wd5.myworkday.test); waiting for the user"));

        session.loop.advance(Seconds(179.9));
        session.commit(identityLogin + "?redirect=1");
        EXPECT_EQ(entryLoads(), 1u);

        session.loop.advance(Seconds(0.1));
        session.commit(identityLogin + "?redirect=1");
        EXPECT_EQ(entryLoads(), 2u);
        session.commit(demoHomePage);
        EXPECT_TRUE(log.contains("[Workday] session recovered (https://wd5.myworkday.test)"));
    }

    TEST_F(SessionRecoveryTest, sessionEndWhileOfflineWaitsForTheNetworkThenSignsInAtOnce)
    {
        session.commit(casLoginPage);
        session.networkPathMonitor.send(true);
        EXPECT_EQ(entryLoads(), 0u);
        EXPECT_FALSE(log.contains("[Workday] network is back"));

        session.networkPathMonitor.send(false);
        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 0u);
        EXPECT_TRUE(log.contains("[Workday] session ended (https://wd5.myworkday.test); signing back in once online"));

        session.loop.advance(30s);
        session.networkPathMonitor.send(true);
        EXPECT_TRUE(log.contains("[Workday] network is back"));
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_EQ(session.poller.refreshCount, 1);

        session.commit(logoutPage);
        session.loop.advance(60s);
        session.networkPathMonitor.send(false);
        session.networkPathMonitor.send(true);
        EXPECT_EQ(entryLoads(), 2u);
    }

    TEST_F(SessionRecoveryTest, brokenCASFlowRestartsTheSignInOnceIn10Minutes)
    {
        landOnCAS(ScriptReply::success(false));
        landOnCAS(ScriptReply::success("true"));
        landOnCAS(ScriptReply::failure("evaluation failed"));
        EXPECT_EQ(entryLoads(), 0u);

        session.saveCredentials("demo", "ashgrove-demo");
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        landOnCAS(ScriptReply::success(true));
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_EQ(session.poller.lastState, PollState::signingIn());
        // The fresh attempt gets the password although it was handed out moments ago.
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");

        session.loop.advance(Seconds(599.9));
        landOnCAS(ScriptReply::success(true));
        EXPECT_EQ(entryLoads(), 1u);

        session.loop.advance(Seconds(0.1));
        landOnCAS(ScriptReply::success(true));
        EXPECT_EQ(entryLoads(), 2u);
    }

    TEST_F(SessionRecoveryTest, offlineFailuresAreRetriedAfterDoublingDelaysUpTo60SecondsUntilANavigationFinishes)
    {
        const std::string page = "https://wd5.myworkday.test/ashgrove/d/inbox.htmld";
        for (double delay : { 5.0, 10.0, 20.0, 40.0, 60.0, 60.0 }) {
            auto loadsBefore = session.view().loadedURLs().size();
            failLoad(page);
            session.loop.advance(Seconds(delay - 0.1));
            EXPECT_EQ(session.view().loadedURLs().size(), loadsBefore) << delay;
            session.loop.advance(Seconds(0.1));
            ASSERT_EQ(session.view().loadedURLs().size(), loadsBefore + 1) << delay;
            EXPECT_EQ(session.view().loadedURLs().back(), url(page));
        }
        EXPECT_EQ(log.count("[Workday] load failed offline (-1009); retrying in 60 s"), 2);

        session.land(page);
        failLoad(page, urlErrorTimedOut);
        EXPECT_TRUE(log.contains("[Workday] load failed offline (-1001); retrying in 5 s"));
    }

    // Other errors and http pages are not retried; no address retries the entry page; navigating drops it.
    TEST_F(SessionRecoveryTest, onlyOfflineFailuresOfHTTPSPagesAreRetriedUntilAnotherNavigationStarts)
    {
        auto navigation = session.view().startNavigation();
        session.view().fail(navigation, { "WebKitNetworkError", 500, url(demoHomePage) });
        session.view().fail(navigation, { urlErrorDomain, -1100, url(demoHomePage) });
        session.view().fail(navigation, offlineError("http://wd5.myworkday.test/ashgrove/d/home.htmld"));
        session.loop.advance(120s);
        EXPECT_TRUE(session.view().loadedURLs().empty());

        session.view().failProvisional(session.view().startNavigation(), offlineError());
        session.loop.advance(5s);
        EXPECT_EQ(session.view().loadedURLs(), std::vector<URL> { demoEndpoints().entryURL() });

        failLoad(demoHomePage);
        session.view().startNavigation();
        session.loop.advance(120s);
        EXPECT_EQ(session.view().loadedURLs().size(), 1u);
    }

    TEST_F(SessionRecoveryTest, retryIsSkippedWhenTheUserNavigatedSinceTheFailureButNotForItsOwnURL)
    {
        const std::string failedPage = "https://wd5.myworkday.test/ashgrove/d/inbox.htmld";
        session.view().changeURL(url(demoHomePage));
        failLoad(failedPage);
        session.view().changeURL(url("https://wd5.myworkday.test/ashgrove/d/other.htmld"));
        session.loop.advance(5s);
        EXPECT_TRUE(session.view().loadedURLs().empty());
        EXPECT_TRUE(log.contains("[Workday] retry skipped: navigated since the failure"));

        failLoad(failedPage);
        session.view().changeURL(url(failedPage));
        session.loop.advance(10s);
        EXPECT_EQ(session.view().loadedURLs(), std::vector<URL> { url(failedPage) });
    }

    TEST_F(SessionRecoveryTest, wakeRefreshesTheCountsAndRetriesAPendingLoadAtOnce)
    {
        session.networkPathMonitor.send(true);
        session.commit(demoHomePage);
        session.wakeMonitor.wake();
        EXPECT_TRUE(log.contains("[Workday] woke from sleep"));
        EXPECT_TRUE(session.view().loadedURLs().empty());
        EXPECT_EQ(session.poller.refreshCount, 1);

        failLoad(demoHomePage);
        session.loop.advance(1s);
        session.wakeMonitor.wake();
        EXPECT_EQ(session.view().loadedURLs(), std::vector<URL> { url(demoHomePage) });
        EXPECT_EQ(session.poller.refreshCount, 2);
        session.loop.advance(60s);
        EXPECT_EQ(session.view().loadedURLs().size(), 1u);
    }

}
}

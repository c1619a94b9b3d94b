#include "session/OfflineErrors.h"
#include "support/LogCapture.h"
#include "support/SessionHarness.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

    const std::string logoutPage = "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld";
    const std::string casPage = "https://login.ashgrove.test/cas/login?service=x";
    const std::string homePage = "https://wd5.myworkday.test/ashgrove/d/home.htmld";
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
            session.land(casPage);
            session.view().answerScript(std::move(brokenFlowCheck));
        }

        SessionHarness session;
        LogCapture log;
    };

    // An ended session signs back in once, never loops, and not again within 180 seconds.
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
        session.commit(homePage);
        EXPECT_TRUE(log.contains("[Workday] session recovered (https://wd5.myworkday.test)"));

        // A hidden view that sees the session end reloads the main view.
        session.loop.advance(180s);
        session.session().recoverSession(url(logoutPage));
        EXPECT_EQ(entryLoads(), 3u);
    }

    // Offline, signing in waits for the network's return, then happens at once even after an attempt.
    TEST_F(SessionRecoveryTest, sessionEndWhileOfflineWaitsForTheNetworkThenSignsInAtOnce)
    {
        session.commit(casPage);
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

    // A broken sign-in flow starts over once in 10 minutes; a healthy page or a failed check does not.
    TEST_F(SessionRecoveryTest, brokenCASFlowRestartsTheSignInOnceIn10Minutes)
    {
        landOnCAS(ScriptReply::success(false));
        landOnCAS(ScriptReply::success("true"));
        landOnCAS(ScriptReply::failure("evaluation failed"));
        EXPECT_EQ(entryLoads(), 0u);

        session.saveCredentials("demo", "ashgrove-demo");
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        session.land(casPage);
        ASSERT_EQ(session.view().pendingScripts().size(), 1u);
        EXPECT_NE(session.view().pendingScripts().front().source.find("Invalid\\/Unknown Webflow Configuration"), std::string::npos);
        session.view().answerScript(ScriptReply::success(true));

        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_EQ(session.poller.lastState, PollState::signingIn());
        EXPECT_TRUE(log.contains("[Workday] CAS flow broke (https://login.ashgrove.test); starting the sign-in over"));
        // The fresh attempt gets the password although it was handed out moments ago.
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");

        session.loop.advance(Seconds(599.9));
        landOnCAS(ScriptReply::success(true));
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_TRUE(log.contains("[Workday] CAS flow broke again; waiting for the user"));

        session.loop.advance(Seconds(0.1));
        landOnCAS(ScriptReply::success(true));
        EXPECT_EQ(entryLoads(), 2u);
    }

    // Offline failures retry after 5, 10, 20, 40 then 60 seconds, back to 5 once a page finishes.
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
        session.view().fail(navigation, { "WebKitNetworkError", 500, url(homePage) });
        session.view().fail(navigation, { urlErrorDomain, -1100, url(homePage) });
        session.view().fail(navigation, offlineError("http://wd5.myworkday.test/ashgrove/d/home.htmld"));
        session.loop.advance(120s);
        EXPECT_TRUE(session.view().loadedURLs().empty());

        session.view().failProvisional(session.view().startNavigation(), offlineError());
        session.loop.advance(5s);
        EXPECT_EQ(session.view().loadedURLs(), std::vector<URL> { demoEndpoints().entryURL() });

        failLoad(homePage);
        session.view().startNavigation();
        session.loop.advance(120s);
        EXPECT_EQ(session.view().loadedURLs().size(), 1u);
    }

    TEST_F(SessionRecoveryTest, retryIsSkippedWhenTheUserNavigatedSinceTheFailureButNotForItsOwnURL)
    {
        const std::string failedPage = "https://wd5.myworkday.test/ashgrove/d/inbox.htmld";
        for (auto [nextPage, expectedLoads] : { std::pair { std::string("https://wd5.myworkday.test/ashgrove/d/other.htmld"), 0u }, std::pair { failedPage, 1u } }) {
            SessionHarness harness;
            LogCapture harnessLog;
            harness.view().changeURL(url(homePage));
            harness.view().decideAction({ NavigationType::other, true, true, url(failedPage), false });
            harness.view().failProvisional(harness.view().startNavigation(), offlineError(failedPage));
            harness.view().changeURL(url(nextPage));
            harness.loop.advance(5s);
            EXPECT_EQ(harness.view().loadedURLs().size(), expectedLoads) << nextPage;
            EXPECT_EQ(harnessLog.contains("[Workday] retry skipped: navigated since the failure"), expectedLoads == 0) << nextPage;
        }
    }

    // Waking refreshes the counts, retries a pending load at once (as the network's return does)
    // and restarts a stuck sign-in.
    TEST_F(SessionRecoveryTest, wakeRefreshesTheCountsRetriesAPendingLoadAndRestartsTheSignIn)
    {
        session.networkPathMonitor.send(true);
        session.commit(homePage);
        session.wakeMonitor.wake();
        EXPECT_TRUE(log.contains("[Workday] woke from sleep"));
        EXPECT_TRUE(session.view().loadedURLs().empty());
        EXPECT_EQ(session.poller.refreshCount, 1);

        failLoad(homePage);
        session.loop.advance(1s);
        session.wakeMonitor.wake();
        EXPECT_EQ(session.view().loadedURLs(), std::vector<URL> { url(homePage) });
        EXPECT_EQ(session.poller.refreshCount, 2);
        session.loop.advance(60s);
        EXPECT_EQ(session.view().loadedURLs().size(), 1u);
        failLoad(homePage);
        session.networkPathMonitor.send(false);
        session.networkPathMonitor.send(true);
        EXPECT_EQ(session.view().loadedURLs().size(), 2u);

        session.commit(logoutPage);
        session.commit(casPage);
        ASSERT_EQ(entryLoads(), 1u);
        session.loop.advance(30s);
        session.wakeMonitor.wake();
        EXPECT_EQ(entryLoads(), 2u);
        EXPECT_EQ(session.poller.refreshCount, 4);
    }

}
}

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

    class SessionRecoveryTest : public ::testing::Test {
    protected:
        size_t entryLoads()
        {
            return std::ranges::count(session.view().loadedURLs(), demoEndpoints().entryURL());
        }

        WebError offlineError(std::optional<std::string> failingURL = std::nullopt, long code = urlErrorNotConnectedToInternet)
        {
            return { urlErrorDomain, code, failingURL ? std::optional(url(*failingURL)) : std::nullopt };
        }

        // A main-frame load that fails before committing, as a dropped network does.
        void failLoad(const std::string& address, long code = urlErrorNotConnectedToInternet)
        {
            session.view().decideAction({ NavigationType::other, true, true, url(address), false });
            auto navigation = session.view().startNavigation();
            session.view().failProvisional(navigation, offlineError(address, code));
        }

        SessionHarness session;
        LogCapture log;
    };

    TEST_F(SessionRecoveryTest, sessionEndedPageSignsBackInOnceAndNotAgainWithin180Seconds)
    {
        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_EQ(session.poller.lastState(), PollState::signingIn());
        EXPECT_TRUE(log.contains("[Workday] session ended (https://wd5.myworkday.test); signing back in"));

        // The automatic sign-in ends on the logout page again: no loop.
        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_FALSE(session.session().isRecoveryInProgress());
        EXPECT_TRUE(log.contains("[Workday] sign-in didn't complete (https://wd5.myworkday.test); waiting for the user"));

        session.loop.advance(Seconds(179.9));
        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 1u);

        session.loop.advance(Seconds(0.1));
        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 2u);
        session.commit(homePage);
        EXPECT_FALSE(session.session().isRecoveryInProgress());
        EXPECT_TRUE(log.contains("[Workday] session recovered (https://wd5.myworkday.test)"));
    }

    TEST_F(SessionRecoveryTest, identityLoginIsASessionEndOnlyWithoutAPendingStep)
    {
        session.commit("https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login?pending=mfa");
        EXPECT_EQ(entryLoads(), 0u);
        session.commit("https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login?redirect=1");
        EXPECT_EQ(entryLoads(), 1u);
    }

    TEST_F(SessionRecoveryTest, hiddenViewReportingASessionEndReloadsTheMainView)
    {
        session.session().recoverSession(url(logoutPage));
        EXPECT_EQ(entryLoads(), 1u);
    }

    TEST_F(SessionRecoveryTest, sessionEndWhileOfflineWaitsForTheNetworkThenSignsInAtOnce)
    {
        session.networkPathMonitor.send(false);
        session.commit(logoutPage);
        EXPECT_EQ(entryLoads(), 0u);
        EXPECT_TRUE(log.contains("[Workday] session ended (https://wd5.myworkday.test); signing back in once online"));
        EXPECT_TRUE(session.session().recovery().isRecoveryAwaitingNetwork());

        session.loop.advance(30s);
        session.networkPathMonitor.send(true);
        EXPECT_TRUE(log.contains("[Workday] network is back"));
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_FALSE(session.session().recovery().isRecoveryAwaitingNetwork());
        EXPECT_EQ(session.poller.refreshCount, 1);
    }

    TEST_F(SessionRecoveryTest, networkReturnOnASignedOutPageSignsInEvenRightAfterAnAttempt)
    {
        session.commit(logoutPage);
        session.commit(logoutPage);
        ASSERT_EQ(entryLoads(), 1u);
        session.loop.advance(60s);

        session.networkPathMonitor.send(false);
        session.networkPathMonitor.send(true);
        EXPECT_EQ(entryLoads(), 2u);
        EXPECT_TRUE(session.session().isRecoveryInProgress());
    }

    TEST_F(SessionRecoveryTest, networkStillUpIsNotAReturn)
    {
        session.commit(casPage);
        session.networkPathMonitor.send(true);
        EXPECT_EQ(entryLoads(), 0u);
        EXPECT_FALSE(log.contains("[Workday] network is back"));
    }

    TEST_F(SessionRecoveryTest, brokenCASFlowRestartsTheSignInOnceIn10Minutes)
    {
        EXPECT_EQ(session.handedOutPassword(), "");
        session.saveCredentials("demo", "ashgrove-demo");
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");

        session.land(casPage);
        ASSERT_EQ(session.view().pendingScripts().size(), 1u);
        EXPECT_NE(session.view().pendingScripts().front().source.find("Invalid\\/Unknown Webflow Configuration"), std::string::npos);
        session.view().answerScript(ScriptReply::success(true));

        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_TRUE(session.session().isRecoveryInProgress());
        EXPECT_EQ(session.poller.lastState(), PollState::signingIn());
        EXPECT_TRUE(log.contains("[Workday] CAS flow broke (https://login.ashgrove.test); starting the sign-in over"));
        // The fresh attempt gets the password although it was handed out moments ago.
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");

        session.loop.advance(Seconds(599.9));
        session.land(casPage);
        session.view().answerScript(ScriptReply::success(true));
        EXPECT_EQ(entryLoads(), 1u);
        EXPECT_TRUE(log.contains("[Workday] CAS flow broke again; waiting for the user"));

        session.loop.advance(Seconds(0.1));
        session.land(casPage);
        session.view().answerScript(ScriptReply::success(true));
        EXPECT_EQ(entryLoads(), 2u);
    }

    TEST_F(SessionRecoveryTest, healthyCASPageOrFailedCheckRestartsNothing)
    {
        session.land(casPage);
        session.view().answerScript(ScriptReply::success(false));
        session.land(casPage);
        session.view().answerScript(ScriptReply::success("true"));
        session.land(casPage);
        session.view().answerScript(ScriptReply::failure("evaluation failed"));
        EXPECT_EQ(entryLoads(), 0u);
        EXPECT_FALSE(session.session().isRecoveryInProgress());
    }

    TEST_F(SessionRecoveryTest, offlineFailuresAreRetriedAfter5Then10Then20SecondsUntilANavigationFinishes)
    {
        const std::string page = "https://wd5.myworkday.test/ashgrove/d/inbox.htmld";
        for (double delay : { 5.0, 10.0, 20.0 }) {
            auto loadsBefore = session.view().loadedURLs().size();
            failLoad(page);
            session.loop.advance(Seconds(delay - 0.1));
            EXPECT_EQ(session.view().loadedURLs().size(), loadsBefore) << delay;
            session.loop.advance(Seconds(0.1));
            ASSERT_EQ(session.view().loadedURLs().size(), loadsBefore + 1) << delay;
            EXPECT_EQ(session.view().loadedURLs().back(), url(page));
        }
        EXPECT_TRUE(log.contains("[Workday] load failed offline (-1009); retrying in 20 s"));

        session.land(page);
        failLoad(page, urlErrorTimedOut);
        EXPECT_TRUE(log.contains("[Workday] load failed offline (-1001); retrying in 5 s"));
    }

    TEST_F(SessionRecoveryTest, retryDelayStopsGrowingAt60Seconds)
    {
        for (int failure = 0; failure < 7; ++failure)
            failLoad("https://wd5.myworkday.test/ashgrove/d/home.htmld");
        EXPECT_EQ(session.session().recovery().loadRetryDelay(), Seconds(60));
        EXPECT_EQ(log.count("[Workday] load failed offline (-1009); retrying in 60 s"), 3);
    }

    TEST_F(SessionRecoveryTest, onlyOfflineFailuresOfHTTPSPagesAreRetried)
    {
        auto navigation = session.view().startNavigation();
        session.view().fail(navigation, { "WebKitNetworkError", 500, url(homePage) });
        session.view().fail(navigation, { urlErrorDomain, -1100, url(homePage) });
        session.view().fail(navigation, offlineError("http://wd5.myworkday.test/ashgrove/d/home.htmld"));
        session.loop.advance(120s);
        EXPECT_TRUE(session.view().loadedURLs().empty());
    }

    TEST_F(SessionRecoveryTest, failureWithoutFailingURLRetriesTheEntryURL)
    {
        auto navigation = session.view().startNavigation();
        session.view().failProvisional(navigation, offlineError());
        session.loop.advance(5s);
        EXPECT_EQ(entryLoads(), 1u);
    }

    TEST_F(SessionRecoveryTest, startingAnotherNavigationDropsThePendingRetry)
    {
        failLoad(homePage);
        session.view().startNavigation();
        session.loop.advance(120s);
        EXPECT_TRUE(session.view().loadedURLs().empty());
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

    TEST_F(SessionRecoveryTest, aSessionEndedWhileItsChecksWaitIsNeverTouchedAgain)
    {
        // Run under AddressSanitizer: a resumed check would reach the destroyed coordinator.
        auto view = session.sharedView();
        session.land(casPage);
        failLoad(homePage);
        ASSERT_EQ(view->pendingScripts().size(), 1u);
        session.coordinator.reset();

        view->answerScript(ScriptReply::success(true));
        session.loop.advance(120s);
        EXPECT_TRUE(view->loadedURLs().empty());
    }

    TEST_F(SessionRecoveryTest, wakeRetriesAPendingLoadAtOnceAndRefreshesTheCounts)
    {
        session.networkPathMonitor.send(true);
        failLoad(homePage);
        session.loop.advance(1s);

        session.wakeMonitor.wake();
        EXPECT_TRUE(log.contains("[Workday] woke from sleep"));
        EXPECT_EQ(session.view().loadedURLs().size(), 1u);
        EXPECT_EQ(session.poller.refreshCount, 1);

        session.loop.advance(60s);
        EXPECT_EQ(session.view().loadedURLs().size(), 1u);
    }

    TEST_F(SessionRecoveryTest, wakeOnASignInPageRestartsTheSignInDespiteTheRecentAttempt)
    {
        session.commit(logoutPage);
        session.commit(casPage);
        ASSERT_EQ(entryLoads(), 1u);
        session.loop.advance(30s);

        session.wakeMonitor.wake();
        EXPECT_EQ(entryLoads(), 2u);
        EXPECT_EQ(session.poller.refreshCount, 1);
    }

    TEST_F(SessionRecoveryTest, wakeOnAWorkdayPageOnlyRefreshesTheCounts)
    {
        session.commit(homePage);
        session.wakeMonitor.wake();
        EXPECT_EQ(entryLoads(), 0u);
        EXPECT_EQ(session.poller.refreshCount, 1);
    }

}
}

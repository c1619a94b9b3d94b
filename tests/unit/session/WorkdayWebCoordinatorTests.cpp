#include "session/OfflineErrors.h"
#include "support/LogCapture.h"
#include "support/SessionHarness.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

    const std::string inboxPage = "https://wd5.myworkday.test/ashgrove/d/inbox/2998$1.htmld";

    class WorkdayWebCoordinatorTest : public ::testing::Test {
    protected:
        NavigationActionPolicy click(const std::string& address, NavigationType type = NavigationType::linkActivated)
        {
            return session.view().decideAction({ type, true, true, url(address), false });
        }

        SessionHarness session;
        LogCapture log;
    };

    TEST_F(WorkdayWebCoordinatorTest, attachConnectsThePollerAndRosterAndTheMainWindowReusesTheView)
    {
        session.settings.setBoolean("ssoLoginPendingConfirmation", true);

        auto view = session.session().makeWebView();
        session.session().attach(view);

        EXPECT_FALSE(session.settings.hasValue("ssoLoginPendingConfirmation"));
        EXPECT_EQ(session.poller.attachedViews.back(), view);
        EXPECT_EQ(session.rosterReader.attachedViews.back().lock(), view);

        EXPECT_EQ(session.session().webViewForMainWindow(), view);
        EXPECT_EQ(session.backgroundSession.view, view);
    }

    // Links leave the app unless https on the default port to a sign-in or Workday host; only
    // link activations are tested. Back and forward never return into the sign-in flow.
    TEST_F(WorkdayWebCoordinatorTest, eachNavigationStaysGoesOutsideIsBlockedOrDownloads)
    {
        using enum NavigationActionPolicy;
        const std::tuple<NavigationType, std::string, NavigationActionPolicy, bool> cases[] = {
            { NavigationType::linkActivated, "http://wd5.myworkday.test/ashgrove/d/home.htmld", cancel, true },
            { NavigationType::linkActivated, "https://wd5.myworkday.test:8443/ashgrove/d/home.htmld", cancel, true },
            { NavigationType::linkActivated, "https://www.example.org/article", cancel, true },
            { NavigationType::linkActivated, "https://WD5.myworkday.test:443/ashgrove/d/home.htmld", allow, false },
            { NavigationType::linkActivated, "https://api-d3m0.duosecurity.test/frame/prompt", allow, false },
            { NavigationType::linkActivated, "https://api-d3m0duosecurity.test/frame/prompt", cancel, true },
            { NavigationType::linkActivated, "https://shib.ashgrove.test.example/idp", cancel, true },
            { NavigationType::linkActivated, "https://evilmyworkday.test/ashgrove/d/home.htmld", cancel, true },
            { NavigationType::linkActivated, "mailto:help@ashgrove.test", allow, false },
            { NavigationType::formSubmitted, "https://www.example.org/form", allow, false },
            { NavigationType::backForward, inboxPage, allow, false },
        };
        std::vector<URL> openedOutside;
        for (const auto& [type, address, expected, isOpenedOutside] : cases) {
            EXPECT_EQ(click(address, type), expected) << address;
            if (isOpenedOutside)
                openedOutside.push_back(url(address));
        }
        EXPECT_EQ(session.externalOpener.openedURLs, openedOutside);

        for (auto address : { "https://login.ashgrove.test/cas/login", "https://wd5.myworkday.test/wday/authgwy/ashgrove/login.htmld" })
            EXPECT_EQ(click(address, NavigationType::backForward), cancel) << address;
        EXPECT_TRUE(log.contains("[Workday] BLOCKED back/forward nav to https://login.ashgrove.test"));

        EXPECT_EQ(session.view().decideAction({ NavigationType::linkActivated, true, true, url("https://wd5.myworkday.test/ashgrove/d/reports/summary.pdf"), true }), download);
    }

    TEST_F(WorkdayWebCoordinatorTest, linkClickedWhileLockedOpensOnlyAfterASuccessfulUnlock)
    {
        session.lockController.locked = true;
        EXPECT_EQ(click("https://www.example.org/one"), NavigationActionPolicy::cancel);
        EXPECT_EQ(click("https://www.example.org/two"), NavigationActionPolicy::cancel);
        EXPECT_TRUE(session.externalOpener.openedURLs.empty());

        session.lockController.finishAuthentication(false);
        EXPECT_TRUE(session.externalOpener.openedURLs.empty());
        session.lockController.finishAuthentication(true);
        EXPECT_EQ(session.externalOpener.openedURLs, std::vector<URL> { url("https://www.example.org/two") });
    }

    // A bubble tap on home learns the page reached within 5 s, unless another navigation came first.
    TEST_F(WorkdayWebCoordinatorTest, bubbleTapLearnsThePageReachedWithin5SecondsOnlyFromHome)
    {
        struct Case {
            std::string tappedOn;
            std::string automationID;
            std::string kind;
            Seconds wait;
            std::optional<std::string> navigationBefore;
            bool isClicked;
            bool learns;
        };
        const Case cases[] = {
            { demoHomePage, "inbox_preview", "task", Seconds(4.9), std::nullopt, true, true },
            { demoHomePage, "notification_preview", "notification", Seconds(5.0), std::nullopt, true, false },
            { demoHomePage, "notification_preview", "notification", Seconds(0), "https://wd5.identity.myworkday.test/x", true, false },
            { inboxPage, "notification_preview", "notification", Seconds(0), std::nullopt, false, false },
            { demoHomePage, "x\"]'); alert(1); ('", "notification", Seconds(0), std::nullopt, false, false },
        };
        const std::string reached = "https://wd5.myworkday.test/ashgrove/d/notifications/2998$2.htmld";
        for (const auto& [tappedOn, automationID, kind, wait, navigationBefore, isClicked, learns] : cases) {
            SCOPED_TRACE(tappedOn + " " + automationID);
            SessionHarness harness;
            LogCapture harnessLog;
            harness.land(tappedOn);
            harness.session().clickAutomationID(automationID, kind);
            EXPECT_EQ(harness.view().scriptLog().size(), isClicked ? 1u : 0u);
            harness.loop.advance(wait);
            if (navigationBefore)
                harness.view().decideAction({ NavigationType::linkActivated, true, true, url(*navigationBefore), false });
            harness.view().changeURL(url(reached));
            EXPECT_EQ(kind == "task" ? harness.poller.taskURL : harness.poller.notificationURL, learns ? reached : "");
            EXPECT_EQ(harnessLog.contains("[Workday] captured " + kind + " badge link: https://wd5.myworkday.test"), learns);
        }
    }

    TEST_F(WorkdayWebCoordinatorTest, reachingHomeBuildsThePollViewsAndLocksAFirstSignIn)
    {
        session.poller.signInBlockedTest = [](const std::optional<URL>& url) { return url && url->host() == "login.ashgrove.test"; };

        session.land(demoCASPage);
        EXPECT_EQ(session.pollBrowser.createCount, 0);
        EXPECT_EQ(session.poller.lastState, PollState::notSignedIn());

        // Asked for, the home page locks a first sign-in before it shows; the hidden views wait
        // for its commit, so that they start in the tenant's web process.
        // A look-alike of the tenant's host is no home: nothing locks or builds for it.
        NavigationAction askForHome;
        askForHome.requestURL = url("https://evilmyworkday.test/ashgrove/d/home.htmld");
        session.view().decideAction(askForHome);
        EXPECT_EQ(session.lockController.homePageReachedCount, 0);
        askForHome.requestURL = url(demoHomePage);
        session.view().decideAction(askForHome);
        EXPECT_EQ(session.lockController.homePageReachedCount, 1);
        EXPECT_EQ(session.pollBrowser.createCount, 0);
        session.land(demoHomePage);
        EXPECT_EQ(session.pollBrowser.createCount, 1);
    }

    // 3 s after the last Workday page finishes the counts refresh once and the banner closes; the
    // window's back and forward buttons follow each navigation.
    TEST_F(WorkdayWebCoordinatorTest, workdayPageLoadsRefreshTheCountsAndCloseTheBanner3SecondsAfterTheLastOne)
    {
        int buttonRefreshes = 0;
        auto connection = session.session().observeNavigationStateRevision([&] { ++buttonRefreshes; });
        session.land(demoHomePage);
        EXPECT_GT(buttonRefreshes, 0);
        session.loop.advance(2s);
        session.land(inboxPage);
        session.loop.advance(Seconds(2.9));
        EXPECT_EQ(session.poller.refreshCount, 0);
        EXPECT_EQ(session.view().scriptLog().size(), 1u) << "the home page's banner only";
        session.loop.advance(Seconds(0.1));
        EXPECT_EQ(session.poller.refreshCount, 1);
        EXPECT_EQ(session.view().scriptLog().size(), 2u);

        session.land(demoCASPage);
        session.loop.advance(10s);
        EXPECT_EQ(session.poller.refreshCount, 1);
    }

    // An ended web process brings its page back until it ends for the third time within five
    // minutes; then a page says so (its reload link is followed in the engine's test). Where the
    // engine cannot run at all, the process of that page ends too, and nothing more is loaded:
    // each load would start another process that ends at once.
    TEST_F(WorkdayWebCoordinatorTest, anEndedWebProcessReloadsThePageUntilItEndsThreeTimesInFiveMinutes)
    {
        struct Case {
            std::vector<Seconds> endsApart;
            bool stoppedPageLoads;
            int reloads;
            std::size_t stoppedPages;
        };
        const Case cases[] = {
            { { 0s, 100s, 199s }, true, 2, 1 },
            { { 0s, 200s, 100s, 301s }, true, 4, 0 },
            { { 0s, 0s, 0s, 400s, 0s, 0s }, true, 4, 2 },
            { { 0s, 0s, 0s, 0s, 0s, 400s }, false, 2, 1 },
        };
        for (const auto& [endsApart, stoppedPageLoads, reloads, stoppedPages] : cases) {
            SCOPED_TRACE(std::to_string(endsApart.size()) + " ends, " + std::to_string(reloads) + " reloads");
            SessionHarness harness;
            harness.land(demoHomePage);
            auto& view = harness.view();
            for (auto apart : endsApart) {
                harness.loop.advance(apart);
                auto pagesBefore = view.loadedHTML().size();
                view.terminateWebProcess();
                if (stoppedPageLoads && view.loadedHTML().size() > pagesBefore)
                    view.finish(view.startNavigation());
            }
            EXPECT_EQ(view.loadedURLs(), std::vector<URL>(reloads, url(demoHomePage)));
            EXPECT_EQ(view.loadedHTML().size(), stoppedPages);
            EXPECT_EQ(harness.pollBrowser.discardCount, static_cast<int>(endsApart.size()));
        }
    }

    TEST_F(WorkdayWebCoordinatorTest, navigateLoadsValidURLsAndLogsInvalidOnes)
    {
        session.session().navigate(inboxPage);
        EXPECT_EQ(session.view().loadedURLs(), std::vector<URL> { url(inboxPage) });
        EXPECT_TRUE(log.contains("[Workday] navigate(full load) -> https://wd5.myworkday.test"));

        session.session().navigate("not a url");
        EXPECT_TRUE(log.contains("[Workday] navigate: invalid URL"));
        EXPECT_EQ(session.view().loadedURLs().size(), 1u);
    }

    // Run under AddressSanitizer: no wait may resume into a destroyed coordinator.
    TEST_F(WorkdayWebCoordinatorTest, tasksStillWaitingEndWithTheCoordinator)
    {
        session.saveCredentials("demo", "ashgrove-demo");
        session.restart();
        session.keychain.isHoldingAnswers = true;
        auto view = std::static_pointer_cast<FakeWebView>(session.coordinator->webView());
        session.land(demoHomePage);
        session.commit("https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login?pending=trust");
        session.land(demoCASPage);
        view->decideAction({ NavigationType::other, true, true, url(inboxPage), false });
        view->failProvisional(view->startNavigation(), { urlErrorDomain, urlErrorNotConnectedToInternet, url(inboxPage) });
        session.requestCredentials();
        ASSERT_EQ(view->pendingScripts().size(), 2u);
        session.coordinator.reset();
        EXPECT_EQ(view->client(), nullptr);

        session.keychain.answerHeld();
        while (!view->pendingScripts().empty())
            view->answerScript(ScriptReply::success(true));
        session.loop.advance(120s);
        EXPECT_EQ(session.poller.refreshCount, 0);
        EXPECT_TRUE(view->loadedURLs().empty());
        EXPECT_FALSE(log.containsSubstring("remember-device prompt"));
        EXPECT_FALSE(session.settings.hasValue("ssoUnconfirmedAutoSubmits"));
    }

}
}

#include "support/CountsHarness.h"
#include "support/LogCapture.h"

#include "support/FakeKeychain.h"

#include "counts/CoordinatorPollSession.h"
#include "counts/PollNavigationTracker.h"
#include "credentials/KeychainStore.h"
#include "sync/SyncedCounts.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;
    using nlohmann::json;

    const URL homeURL = url("https://wd5.myworkday.test/ashgrove/d/home.htmld");
    const URL casURL = url("https://login.ashgrove.test/cas/login?service=x");

    // Hidden views built, main view on the home page, attached: the first cycle waits for the
    // reloads, which time out after 10 s, and then for its three reads.
    void startCycleWithHiddenViews(CountsHarness& harness)
    {
        harness.pollWebView.createIfNeeded();
        harness.mainView->changeURL(homeURL);
        harness.poller.attach(harness.mainView);
        harness.loop.advance(10s);
    }

    TEST(WorkdayPollerTest, aCompleteCycleStampsTheUpdateAndPublishesOneRecord)
    {
        CountsHarness harness;
        startCycleWithHiddenViews(harness);
        EXPECT_TRUE(harness.mainView->scriptLog().empty()); // the hidden home view is read instead

        CountsHarness::answerNewest(harness.homeView(), CountsHarness::home("3", "2"));
        CountsHarness::answerNewest(harness.expensesView(), CountsHarness::prepaid("4"));
        EXPECT_FALSE(harness.poller.lastUpdated());
        CountsHarness::answerNewest(harness.reportsView(), CountsHarness::draft("1"));
        harness.loop.runUntilIdle();

        auto now = harness.loop.wallNow();
        EXPECT_EQ(harness.poller.lastUpdated(), now);
        EXPECT_EQ(harness.publisher.records, (std::vector<SyncedCounts> { { 3, 2, 4, 1, now } }));
        EXPECT_FALSE(harness.poller.isBusy());

        // The next cycle starts 30 s after the first, not before; it reads the task count only: it
        // is kept, nothing else changes.
        harness.homeView().scriptResponder = CountsHarness::answering(CountsHarness::home("5", nullptr));
        harness.expensesView().scriptResponder = CountsHarness::answering({ { "loaded", false }, { "prepaid", nullptr } });
        harness.reportsView().scriptResponder = CountsHarness::answering({ { "gridPresent", false }, { "erRows", 0 }, { "draft", nullptr } });
        auto loads = harness.homeView().loadedURLs().size();
        harness.loop.advance(19.9s);
        EXPECT_EQ(harness.homeView().loadedURLs().size(), loads);
        harness.loop.advance(0.1s);
        EXPECT_EQ(harness.homeView().loadedURLs().size(), loads + 1);
        harness.loop.advance(29s); // reloads time out at 40 s, the reads run out of tries by 55 s
        EXPECT_EQ(harness.poller.outstandingCount(), 5);
        EXPECT_EQ(harness.poller.notificationCount(), 2);
        EXPECT_EQ(harness.poller.lastUpdated(), now);
        EXPECT_EQ(harness.publisher.records.size(), 1u);
    }

    TEST(WorkdayPollerTest, anOlderCycleNeverOverwritesANewerValueAndARestartDropsItsCycle)
    {
        {
            CountsHarness harness;
            startCycleWithHiddenViews(harness); // cycle 1 waits for its reads
            harness.cycles.spawn(harness.poller.refresh()); // cycle 2
            harness.loop.advance(10s);

            // Cycle 2 stores its prepaid value first; cycle 1's late one is dropped.
            CountsHarness::answerNewest(harness.expensesView(), CountsHarness::prepaid("5"));
            harness.expensesView().answerScript(ScriptReply::success(CountsHarness::prepaid("4")));
            EXPECT_EQ(harness.poller.prepaidCount(), 5);
            // Cycle 1's draft is still kept while cycle 2 has stored none, then replaced by it.
            harness.reportsView().answerScript(ScriptReply::success(CountsHarness::draft("2")));
            EXPECT_EQ(harness.poller.draftCount(), 2);
            CountsHarness::answerNewest(harness.reportsView(), CountsHarness::draft("3"));
            EXPECT_EQ(harness.poller.draftCount(), 3);
        }
        {
            CountsHarness harness;
            startCycleWithHiddenViews(harness);
            harness.poller.start(); // the running cycle belongs to the previous generation
            harness.homeView().answerScript(ScriptReply::success(CountsHarness::home("3", "2")));
            harness.expensesView().answerScript(ScriptReply::success(CountsHarness::prepaid("4")));
            harness.reportsView().answerScript(ScriptReply::success(CountsHarness::draft("1")));
            EXPECT_EQ(harness.poller.outstandingCount(), std::nullopt);
            EXPECT_EQ(harness.poller.prepaidCount(), std::nullopt);
            EXPECT_TRUE(harness.publisher.records.empty());
        }
    }

    struct StateCase {
        const char* name;
        URL mainURL;
        std::optional<bool> savedCredentials;
        bool passwordWithheld;
        std::optional<Seconds> recoveryStartedAgo;
        // The home header's answer; null for a page that never becomes ready.
        json home;
        const char* expectedText;
        bool expectedBusy;
    };

    TEST(WorkdayPollerTest, eachCycleDecidesTheStateTheWindowShows)
    {
        const std::vector<StateCase> cases {
            { "sign-in page without saved credentials", casURL, false, false, std::nullopt, nullptr, "Not signed in", false },
            { "saved password withheld", casURL, true, true, std::nullopt, nullptr, "Password needed", false },
            { "nothing read while a recovery began 20 s ago", casURL, true, false, 20s, nullptr, "Signing in…", true },
            { "nothing read, recovery began 90 s ago", casURL, true, false, 90s, nullptr, "Not signed in", false },
            { "task read on the home page", homeURL, true, false, std::nullopt, CountsHarness::home("4", nullptr), "Connecting…", true },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            CountsHarness harness;
            harness.session.savedCredentials = testCase.savedCredentials;
            harness.session.passwordWithheld = testCase.passwordWithheld;
            if (testCase.recoveryStartedAgo) {
                harness.session.recoveryInProgress = true;
                harness.session.recoveryAttempt = harness.loop.now() - std::chrono::duration_cast<MonotonicTime::duration>(*testCase.recoveryStartedAgo);
            }
            harness.mainView->changeURL(testCase.mainURL);
            harness.mainView->scriptResponder = CountsHarness::answering(testCase.home.is_null() ? json { { "pageLoading", true } } : testCase.home);
            harness.poller.attach(harness.mainView);
            harness.loop.advance(20s);
            EXPECT_EQ(harness.poller.statusText(), testCase.expectedText);
            EXPECT_EQ(harness.poller.isBusy(), testCase.expectedBusy);
        }

        CountsHarness harness;
        harness.cycles.spawn(harness.poller.refresh());
        EXPECT_EQ(harness.poller.statusText(), "Connecting…");

        // Without saved credentials a sign-in page blocks the cycle once the recovery under way
        // began 60 s ago or more.
        harness.session.savedCredentials = false;
        harness.session.recoveryInProgress = true;
        for (auto [ago, isBlocked] : { std::pair(59.9s, false), std::pair(60.0s, true) }) {
            harness.session.recoveryAttempt = harness.loop.now() - std::chrono::duration_cast<MonotonicTime::duration>(ago);
            EXPECT_EQ(harness.poller.isSignInBlocked(casURL), isBlocked) << ago.count();
        }
    }

    // A keyring waiting for its unlock prompt has not said whether a password is saved: the
    // sign-in page is not yet one the user must pass by hand.
    TEST(WorkdayPollerTest, theSignInPageIsNotBlockedBeforeTheKeychainAnswers)
    {
        CountsHarness harness;
        FakeKeychain keychain;
        KeychainStore store(keychain, harness.settings);
        CoordinatorPollSession storeSession(harness.loop, store, [] { return nullptr; });
        harness.session.credentialsFrom = &storeSession;
        keychain.isHoldingAnswers = true;
        harness.mainView->changeURL(casURL);
        harness.mainView->scriptResponder = CountsHarness::answering(json { { "pageLoading", true } });
        harness.poller.attach(harness.mainView);
        harness.loop.advance(20s);
        EXPECT_EQ(harness.poller.statusText(), "Signing in…");
        EXPECT_TRUE(harness.poller.isBusy());

        keychain.answerHeld();
        harness.loop.advance(WorkdayPoller::defaultInterval);
        EXPECT_EQ(harness.poller.statusText(), "Not signed in");
    }

    TEST(WorkdayPollerTest, theBadgeAddsTheChosenCountsAndFollowsEverySwitchAtOnce)
    {
        struct BadgeCase {
            bool task, notification, prepaid, draft;
            std::optional<std::int64_t> expected;
        };
        // Counts: task 3, notification 5, prepaid and draft absent.
        const std::vector<BadgeCase> cases {
            { false, false, false, false, std::nullopt },
            { false, true, false, false, 5 },
            { true, true, true, true, 8 },
        };
        CountsHarness harness;
        harness.mainView->changeURL(homeURL);
        harness.mainView->scriptResponder = CountsHarness::answering(CountsHarness::home("3", "5"));
        harness.poller.attach(harness.mainView);
        EXPECT_EQ(harness.badgeSink.shown, 3); // a fresh installation badges the tasks only
        auto evaluations = harness.mainView->scriptLog().size();

        for (auto& testCase : cases) {
            harness.badgeSettings.setIncludeTask(testCase.task);
            harness.badgeSettings.setIncludeNotification(testCase.notification);
            harness.badgeSettings.setIncludePrepaid(testCase.prepaid);
            harness.badgeSettings.setIncludeDraft(testCase.draft);
            harness.loop.runUntilIdle();
            EXPECT_EQ(harness.badgeSink.shown, testCase.expected);
        }
        // No cycle ran for any of it.
        EXPECT_EQ(harness.mainView->scriptLog().size(), evaluations);

        // Counts of 0 show no badge either, not a badge reading 0.
        harness.poller.applySynced({ 0, 0, 0, 0, harness.loop.wallNow() + 1h });
        EXPECT_EQ(harness.badgeSink.shown, std::nullopt);
        // Counts as large as a page may show add up without wrapping round to a negative total.
        harness.poller.applySynced({ INT64_MAX, 5, 1, 1, harness.loop.wallNow() + 2h });
        EXPECT_EQ(harness.badgeSink.shown, INT64_MAX);
    }

    // A fresh installation badges the tasks only (a value of the wrong type reads as the default),
    // and the switches are kept across restarts.
    TEST(BadgeSettingsTest, switchesLoadWithTheirDefaultsAndSurviveARestart)
    {
        MemorySettingsStore settings;
        settings.setString("badgeIncludeNotification", "yes");
        BadgeSettings badge(settings);
        EXPECT_EQ(std::tuple(badge.includeTask(), badge.includeNotification(), badge.includePrepaid(), badge.includeDraft()), std::tuple(true, false, false, false));
        badge.setIncludeDraft(true);
        EXPECT_TRUE(BadgeSettings(settings).includeDraft());
    }

    TEST(PollWebViewTest, threeHiddenViewsAreBuiltOnceSharingTheMainViewsProcessAndAnEndedSessionInOneStartsRecovery)
    {
        CountsHarness harness;
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
            EXPECT_EQ(configuration.userAgent, "MyApp/1.0 (Workday Task Viewer)");
            EXPECT_EQ(configuration.relatedView, harness.mainView);
            EXPECT_TRUE(configuration.isNeverShown);
            EXPECT_TRUE(view.isHostedOffScreen());
            ASSERT_EQ(view.loadedURLs().size(), 1u);
            EXPECT_EQ(view.loadedURLs()[0].string(), pinned[index]);
        }

        // A hidden page showing that the session ended starts recovery; its own page does not.
        harness.reportsView().commit(1, url(pinned[2]));
        EXPECT_TRUE(harness.session.recoveredURLs.empty());
        harness.reportsView().commit(1, url("https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld"));
        ASSERT_EQ(harness.session.recoveredURLs.size(), 1u);
        EXPECT_EQ(harness.session.recoveredURLs[0]->path(), "/wday/authgwy/ashgrove/logout.htmld");
    }

    TEST(PollWebViewTest, reloadAllWaitsForEachLoadToCommitFailOrTakeTenSeconds)
    {
        CountsHarness harness;
        bool hasReturned = false;
        auto reload = [&]() -> Task<void> {
            co_await harness.pollWebView.reloadAll();
            hasReturned = true;
        };

        harness.pollWebView.createIfNeeded();
        LogCapture log;
        spawn(harness.loop, reload());
        // Each view's second load (the first is the initial one) is navigation 2.
        harness.homeView().commit(2, homeURL);
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
            co_await harness.pollWebView.tracker().load(homeURL, view);
            ++resumed;
        };
        spawn(harness.loop, load()); // navigation 3
        spawn(harness.loop, load()); // navigation 4
        harness.homeView().commit(3, homeURL);
        EXPECT_EQ(resumed, 0);
        harness.homeView().commit(4, homeURL);
        EXPECT_EQ(resumed, 2);
    }

}
}

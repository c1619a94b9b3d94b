#include "support/CountsHarness.h"
#include "support/LogCapture.h"

#include "support/FakeKeychain.h"

#include "app/CoordinatorPollSession.h"
#include "badge/BadgeComposer.h"
#include "badge/BadgeSettings.h"
#include "badge/BadgeSink.h"
#include "counts/PollNavigationTracker.h"
#include "credentials/KeychainStore.h"

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

    TEST(WorkdayPollerTest, aCompleteCycleIsHandedOutAtOnceAndLaterPartialReadsKeepItsTime)
    {
        CountsHarness harness;
        startCycleWithHiddenViews(harness);
        EXPECT_TRUE(harness.mainView->scriptLog().empty()); // the hidden home view is read instead

        // Both counts of the home header arrive in one reading, on the loop's next turn.
        CountsHarness::answerNewest(harness.homeView(), CountsHarness::home("3", "2"));
        EXPECT_TRUE(harness.readings.empty());
        harness.loop.runUntilIdle();
        ASSERT_EQ(harness.readings.size(), 1u);
        EXPECT_EQ(std::tuple(harness.readings[0].task, harness.readings[0].notification, harness.readings[0].lastUpdated), std::tuple(Count(3), Count(2), std::nullopt));
        CountsHarness::answerNewest(harness.expensesView(), CountsHarness::prepaid("4"));
        CountsHarness::answerNewest(harness.reportsView(), CountsHarness::draft("1"));
        harness.loop.runUntilIdle();
        auto now = harness.loop.wallNow();
        ASSERT_EQ(harness.completeReadings().size(), 1u);
        auto complete = harness.completeReadings()[0];
        EXPECT_EQ(std::tuple(complete.task, complete.notification, complete.prepaid, complete.draft, complete.lastUpdated), std::tuple(Count(3), Count(2), Count(4), Count(1), now));
        EXPECT_EQ(std::tuple(complete.origin, complete.isBusy, complete.state), std::tuple(CountsReading::Origin::thisMachine, false, PollState::polling()));

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
        EXPECT_EQ(std::tuple(harness.reading().task, harness.reading().notification, harness.reading().lastUpdated), std::tuple(Count(5), Count(2), now));
        EXPECT_EQ(harness.completeReadings().size(), 1u);

        // Another machine's reading replaces the counts only when it was made later.
        for (auto [offset, isAdopted] : { std::pair(-1s, false), std::pair(0s, false), std::pair(1s, true) }) {
            CountsReading synced { .task = 9, .notification = 0, .prepaid = 0, .draft = 0, .lastUpdated = now + std::chrono::duration_cast<WallTime::duration>(offset) };
            harness.poller.applySynced(synced);
            EXPECT_EQ(harness.completeReadings().size(), isAdopted ? 2u : 1u);
        }
        EXPECT_EQ(std::tuple(harness.readings.back().task, harness.readings.back().origin), std::tuple(Count(9), CountsReading::Origin::anotherMachine));
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
            EXPECT_EQ(harness.reading().prepaid, 5);
            // Cycle 1's draft is still kept while cycle 2 has stored none, then replaced by it.
            harness.reportsView().answerScript(ScriptReply::success(CountsHarness::draft("2")));
            EXPECT_EQ(harness.reading().draft, 2);
            CountsHarness::answerNewest(harness.reportsView(), CountsHarness::draft("3"));
            EXPECT_EQ(harness.reading().draft, 3);
        }
        {
            CountsHarness harness;
            startCycleWithHiddenViews(harness);
            harness.poller.start(); // the running cycle belongs to the previous generation
            harness.homeView().answerScript(ScriptReply::success(CountsHarness::home("3", "2")));
            harness.expensesView().answerScript(ScriptReply::success(CountsHarness::prepaid("4")));
            harness.reportsView().answerScript(ScriptReply::success(CountsHarness::draft("1")));
            harness.loop.runUntilIdle();
            EXPECT_EQ(std::tuple(harness.reading().task, harness.reading().prepaid), std::tuple(Count(), Count()));
            EXPECT_TRUE(harness.completeReadings().empty());
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
            EXPECT_EQ(harness.reading().statusText, testCase.expectedText);
            EXPECT_EQ(harness.reading().isBusy, testCase.expectedBusy);
        }

        CountsHarness harness;
        harness.cycles.spawn(harness.poller.refresh());
        EXPECT_EQ(harness.reading().statusText, "Connecting…");

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
        CoordinatorPollSession storeSession(harness.loop, store);
        harness.session.credentialsFrom = &storeSession;
        keychain.isHoldingAnswers = true;
        harness.mainView->changeURL(casURL);
        harness.mainView->scriptResponder = CountsHarness::answering(json { { "pageLoading", true } });
        harness.poller.attach(harness.mainView);
        harness.loop.advance(20s);
        EXPECT_EQ(harness.reading().statusText, "Signing in…");
        EXPECT_TRUE(harness.reading().isBusy);

        keychain.answerHeld();
        harness.loop.advance(WorkdayPoller::defaultInterval);
        EXPECT_EQ(harness.reading().statusText, "Not signed in");
    }

    // The launcher hears of a change of the total only: from a reading, or from a switch on the
    // loop's next turn.
    TEST(BadgeComposerTest, theBadgeAddsTheChosenCountsAndIsSentOnlyWhenTheTotalChanges)
    {
        struct Sink final : BadgeSink {
            void setBadgeCount(std::optional<std::int64_t> count) override { sent.push_back(count); }
            std::vector<std::optional<std::int64_t>> sent;
        } sink;
        struct Step {
            CountsReading reading;
            std::array<bool, 4> included; // task, notification, prepaid, draft
            std::vector<std::optional<std::int64_t>> sent;
        };
        const std::vector<Step> steps {
            { { .task = 3, .notification = 5 }, { true, false, false, false }, { 3 } }, // a fresh installation badges the tasks only
            { { .task = 3, .notification = 5 }, { true, false, false, false }, {} },
            { { .task = 3, .notification = 5, .state = PollState::notSignedIn() }, { true, false, false, false }, {} },
            { { .task = 3, .notification = 5 }, { false, true, false, false }, { 5 } },
            { { .task = 3, .notification = 5 }, { true, true, true, true }, { 8 } },
            { { .task = 2, .notification = 6 }, { true, true, true, true }, {} },
            { { .task = 0, .notification = 0, .prepaid = 0, .draft = 0 }, { true, true, true, true }, { std::nullopt } }, // no badge reading 0
            // Counts as large as a page may show add up without wrapping round to a negative total.
            { { .task = INT64_MAX, .notification = 5, .prepaid = 1, .draft = 1 }, { true, true, true, true }, { INT64_MAX } },
        };
        VirtualRunLoop loop;
        MemorySettingsStore settings;
        BadgeSettings badgeSettings(settings);
        BadgeComposer composer(loop, badgeSettings, sink);
        for (auto& step : steps) {
            sink.sent.clear();
            composer.takeReading(step.reading);
            badgeSettings.setIncludeTask(step.included[0]);
            badgeSettings.setIncludeNotification(step.included[1]);
            badgeSettings.setIncludePrepaid(step.included[2]);
            badgeSettings.setIncludeDraft(step.included[3]);
            loop.runUntilIdle();
            EXPECT_EQ(sink.sent, step.sent) << &step - steps.data();
        }
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

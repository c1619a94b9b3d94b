#include "support/CountsHarness.h"
#include "support/FakeKeychain.h"
#include "support/LogCapture.h"

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
    using H = CountsHarness;

    const URL homeURL = url("https://wd5.myworkday.test/ashgrove/d/home.htmld");
    const URL casURL = url("https://login.ashgrove.test/cas/login?service=x");

    auto counts(const CountsReading& reading) { return std::tuple(reading.task, reading.notification, reading.prepaid, reading.draft); }

    // Hidden views built, main view on the home page, attached: the first cycle's reloads
    // commit, and it waits for its three reads.
    void startCycleWithHiddenViews(H& harness)
    {
        harness.pollWebView.createIfNeeded();
        harness.mainView->changeURL(homeURL);
        harness.poller.attach(harness.mainView);
        harness.commitReloads();
    }

    TEST(WorkdayPollerTest, aCompleteCycleIsHandedOutOnceAndLaterPartialReadsKeepItsTime)
    {
        H harness;
        startCycleWithHiddenViews(harness);
        EXPECT_TRUE(harness.mainView->scriptLog().empty()); // the hidden home view is read instead

        // Both counts of the home header arrive in one reading, on the loop's next turn.
        H::answerNewest(harness.homeView(), H::home("3", "2"));
        EXPECT_TRUE(harness.readings.empty());
        harness.loop.runUntilIdle();
        ASSERT_EQ(harness.readings.size(), 1u);
        EXPECT_EQ(counts(harness.readings[0]), std::tuple(3, 2, std::nullopt, std::nullopt));
        H::answerNewest(harness.expensesView(), H::prepaid("4"));
        H::answerNewest(harness.reportsView(), H::draft("1"));
        harness.loop.runUntilIdle();
        auto now = harness.loop.wallNow();
        ASSERT_EQ(harness.completeReadings().size(), 1u);
        auto complete = harness.completeReadings()[0];
        EXPECT_EQ(counts(complete), std::tuple(3, 2, 4, 1));
        EXPECT_EQ(std::tuple(complete.lastUpdated, complete.origin, complete.isBusy, complete.state), std::tuple(now, CountsReading::Origin::thisMachine, false, PollState::polling()));

        // The next cycle starts 30 s after the first, not before; it reads the task count only: it
        // is kept, nothing else changes.
        harness.homeView().scriptResponder = H::answering(H::home("5", nullptr));
        harness.expensesView().scriptResponder = H::answering({ { "loaded", false }, { "prepaid", nullptr } });
        harness.reportsView().scriptResponder = H::answering({ { "gridPresent", false }, { "erRows", 0 }, { "draft", nullptr } });
        auto loads = harness.homeView().loadedURLs().size();
        harness.loop.advance(29.9s);
        EXPECT_EQ(harness.homeView().loadedURLs().size(), loads);
        harness.loop.advance(0.1s);
        EXPECT_EQ(harness.homeView().loadedURLs().size(), loads + 1);
        harness.commitReloads();
        harness.loop.advance(19s); // the reads run out of tries
        EXPECT_EQ(counts(harness.reading()), std::tuple(5, 2, 4, 1));
        EXPECT_EQ(harness.reading().lastUpdated, now);
        EXPECT_EQ(harness.completeReadings().size(), 1u);

        // Offline: the next cycle's reloads fail or never commit, and the views still show the
        // pages read before. Nothing is read from them, and the time of the last update stays.
        harness.homeView().scriptResponder = H::answering(H::home("7", "2"));
        harness.expensesView().scriptResponder = H::answering(H::prepaid("6"));
        harness.reportsView().scriptResponder = H::answering(H::draft("3"));
        harness.loop.advance(11s);
        ASSERT_EQ(harness.homeView().loadedURLs().size(), loads + 2);
        for (auto* view : { &harness.homeView(), &harness.expensesView() })
            view->failProvisional(view->newestNavigation(), { "WebKitNetworkError", -1004, std::nullopt });
        harness.loop.advance(15s); // the reports page's reload times out
        EXPECT_EQ(counts(harness.reading()), std::tuple(5, 2, 4, 1));
        EXPECT_EQ(harness.completeReadings().size(), 1u);
        EXPECT_EQ(harness.reading().state, PollState::polling());

        // Another machine's reading replaces the counts only when it was made later.
        for (auto [offset, isAdopted] : { std::pair(-1s, false), std::pair(0s, false), std::pair(1s, true) }) {
            harness.poller.applySynced({ .task = 9, .notification = 0, .prepaid = 0, .draft = 0, .lastUpdated = now + offset });
            EXPECT_EQ(harness.completeReadings().size(), isAdopted ? 2u : 1u);
        }
        EXPECT_EQ(std::tuple(harness.readings.back().task, harness.readings.back().origin), std::tuple(9, CountsReading::Origin::anotherMachine));
    }

    TEST(WorkdayPollerTest, anOlderCycleNeverOverwritesANewerValueAndARestartDropsItsCycle)
    {
        H harness;
        startCycleWithHiddenViews(harness); // cycle 1 waits for its reads
        harness.cycles.spawn(harness.poller.refresh()); // cycle 2
        harness.commitReloads();
        // Cycle 2 stores its prepaid value first; cycle 1's late one is dropped.
        H::answerNewest(harness.expensesView(), H::prepaid("5"));
        harness.expensesView().answerScript(ScriptReply::success(H::prepaid("4")));
        EXPECT_EQ(harness.reading().prepaid, 5);
        // Cycle 1's draft is still kept while cycle 2 has stored none, then replaced by it.
        harness.reportsView().answerScript(ScriptReply::success(H::draft("2")));
        EXPECT_EQ(harness.reading().draft, 2);
        H::answerNewest(harness.reportsView(), H::draft("3"));
        EXPECT_EQ(harness.reading().draft, 3);

        H restarted;
        startCycleWithHiddenViews(restarted);
        restarted.poller.start(); // the running cycle belongs to the previous generation
        restarted.homeView().answerScript(ScriptReply::success(H::home("3", "2")));
        restarted.expensesView().answerScript(ScriptReply::success(H::prepaid("4")));
        restarted.reportsView().answerScript(ScriptReply::success(H::draft("1")));
        restarted.loop.runUntilIdle();
        EXPECT_EQ(counts(restarted.reading()), std::tuple(std::nullopt, std::nullopt, std::nullopt, std::nullopt));
        EXPECT_TRUE(restarted.completeReadings().empty());
    }

    TEST(WorkdayPollerTest, eachCycleDecidesTheStateTheWindowShows)
    {
        struct Case {
            const char* name;
            URL mainURL;
            std::optional<bool> savedCredentials;
            bool passwordWithheld;
            std::optional<Seconds> recoveryStartedAgo;
            json home; // the home header's answer; null for a page that never becomes ready
            const char* expectedText;
            bool expectedBusy;
        };
        const std::vector<Case> cases {
            { "sign-in page without saved credentials", casURL, false, false, std::nullopt, nullptr, "Not signed in", false },
            { "saved password withheld", casURL, true, true, std::nullopt, nullptr, "Password needed", false },
            { "nothing read while a recovery began 20 s ago", casURL, true, false, 20s, nullptr, "Signing in…", true },
            { "nothing read, recovery began 90 s ago", casURL, true, false, 90s, nullptr, "Not signed in", false },
            { "task read on the home page", homeURL, true, false, std::nullopt, H::home("4", nullptr), "Connecting…", true },
            // A keyring waiting for its unlock prompt has not said whether a password is saved.
            { "sign-in page before the keychain answers", casURL, std::nullopt, false, std::nullopt, nullptr, "Signing in…", true },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            H harness;
            FakeKeychain keychain;
            KeychainStore store(keychain, harness.settings);
            CoordinatorPollSession storeSession(harness.loop, store, [] { return nullptr; });
            if (!testCase.savedCredentials) {
                harness.session.credentialsFrom = &storeSession;
                keychain.isHoldingAnswers = true;
            }
            harness.session.savedCredentials = testCase.savedCredentials;
            harness.session.passwordWithheld = testCase.passwordWithheld;
            if (testCase.recoveryStartedAgo) {
                harness.session.recoveryInProgress = true;
                harness.session.recoveryAttempt = harness.loop.now() - std::chrono::duration_cast<MonotonicTime::duration>(*testCase.recoveryStartedAgo);
            }
            harness.mainView->changeURL(testCase.mainURL);
            harness.mainView->scriptResponder = H::answering(testCase.home.is_null() ? json { { "pageLoading", true } } : testCase.home);
            harness.poller.attach(harness.mainView);
            harness.loop.advance(20s);
            EXPECT_EQ(std::tuple(harness.reading().statusText, harness.reading().isBusy), std::tuple(testCase.expectedText, testCase.expectedBusy));
            if (!testCase.savedCredentials) {
                keychain.answerHeld();
                harness.loop.advance(WorkdayPoller::defaultInterval);
                EXPECT_EQ(harness.reading().statusText, "Not signed in");
            }
        }

        // Without saved credentials a sign-in page blocks the cycle once the recovery under way
        // began 60 s ago or more.
        H harness;
        harness.session.savedCredentials = false;
        harness.session.recoveryInProgress = true;
        for (auto [ago, isBlocked] : { std::pair(59.9s, false), std::pair(60.0s, true) }) {
            harness.session.recoveryAttempt = harness.loop.now() - std::chrono::duration_cast<MonotonicTime::duration>(ago);
            EXPECT_EQ(harness.poller.isSignInBlocked(casURL), isBlocked) << ago.count();
        }
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
            for (auto field : { BadgeSettings::Field::includeTask, BadgeSettings::Field::includeNotification, BadgeSettings::Field::includePrepaid, BadgeSettings::Field::includeDraft })
                badgeSettings.setValue(field, step.included[static_cast<size_t>(field)]);
            loop.runUntilIdle();
            EXPECT_EQ(sink.sent, step.sent) << &step - steps.data();
        }

        // A value of the wrong type reads as the default; the switches are kept across restarts.
        settings.setString("badgeIncludeNotification", "yes");
        EXPECT_EQ(std::tuple(BadgeSettings(settings).includeTask(), BadgeSettings(settings).includeNotification()), std::tuple(true, false));
        EXPECT_TRUE(BadgeSettings(settings).includeDraft());
    }

    TEST(PollWebViewTest, threeHiddenViewsAreBuiltOnceSharingTheMainViewsProcessAndAnEndedSessionInOneStartsRecovery)
    {
        H harness;
        for (int call = 0; call < 3; ++call)
            harness.pollWebView.createIfNeeded();
        ASSERT_EQ(harness.engine.views().size(), 4u); // the main view and three hidden ones
        const std::vector<std::string> pinned { "https://wd5.myworkday.test/ashgrove/d/home.htmld", "https://wd5.myworkday.test/ashgrove/d/task/2997$1705.htmld", "https://wd5.myworkday.test/ashgrove/d/task/2997$728.htmld" };
        for (size_t index = 0; index < 3; ++index) {
            auto& view = harness.hidden(index);
            auto& configuration = view.configuration();
            EXPECT_EQ(std::tuple(configuration.userAgent, configuration.relatedView, configuration.isNeverShown, view.isHostedOffScreen()), std::tuple("MyApp/1.0 (Workday Task Viewer)", harness.mainView, true, true));
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

    TEST(PollWebViewTest, reloadAllWaitsForEachLoadToCommitFailOrTakeTenSecondsAndSaysWhichCommitted)
    {
        H harness;
        std::optional<PollWebView::ReloadedPages> reloaded;
        auto reloading = [&]() -> Task<void> { reloaded = co_await harness.pollWebView.reloadAll(); };
        harness.pollWebView.createIfNeeded();
        LogCapture log;
        spawn(harness.loop, reloading());
        // Each view's second load (the first is the initial one) is navigation 2.
        harness.homeView().commit(2, homeURL);
        harness.expensesView().failProvisional(2, { "WebKitNetworkError", -1004, std::nullopt });
        harness.loop.advance(9.9s);
        EXPECT_FALSE(reloaded);
        harness.loop.advance(0.1s);
        ASSERT_TRUE(reloaded);
        EXPECT_EQ(std::tuple(reloaded->home, reloaded->expenses, reloaded->reports), std::tuple(true, false, false));
        EXPECT_EQ(log.lines(), std::vector<std::string> { "[PollWebView] timed out waiting for https://wd5.myworkday.test to commit" });

        // A commit after the time-out resumes nobody and writes nothing.
        harness.reportsView().commit(2, url("https://wd5.myworkday.test/ashgrove/d/task/2997$728.htmld"));
        EXPECT_EQ(std::tuple(log.lines().size(), harness.pollWebView.tracker().waiterCount()), std::tuple(1u, 0u));

        // Two loads in one view before either commits: the second one's commit resumes both
        // callers, and the first one's late commit nobody. A failure after a commit leaves the
        // new document: that page was loaded anew.
        std::vector<bool> committed;
        auto loading = [&]() -> Task<void> { committed.push_back(co_await harness.pollWebView.tracker().load(homeURL, harness.pollWebView.homeView())); };
        spawn(harness.loop, loading()); // navigation 3
        spawn(harness.loop, loading()); // navigation 4
        harness.homeView().commit(3, homeURL);
        EXPECT_TRUE(committed.empty());
        harness.homeView().commit(4, homeURL);
        spawn(harness.loop, loading()); // navigation 5
        harness.homeView().fail(5, { "WebKitNetworkError", 302, std::nullopt });
        EXPECT_EQ(committed, (std::vector { true, true, true }));
    }

}
}

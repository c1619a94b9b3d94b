#include "CountsRun.h"
#include "support/MainLoopTask.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

class CountsTest : public EngineSessionTest {
protected:
    std::unique_ptr<CountsRun> startSignedIn(CountsRun::Poller poller)
    {
        saveCredentials("ashgrove-demo");
        auto run = std::make_unique<CountsRun>(*s_engine, *s_configuration, m_settings, m_keychain, poller);
        // The hidden views are built once the main view has finished loading the home page.
        bool isSignedIn = runMainLoopUntil([&] { return run->pollWebView.isCreated(); }, 30s);
        EXPECT_TRUE(isSignedIn);
        return isSignedIn ? std::move(run) : nullptr;
    }

    static json value(WebView& view, const std::string& script)
    {
        auto result = evaluateScript(view, script);
        EXPECT_FALSE(result.isError()) << result.errorMessage;
        return result.value.value_or(json());
    }
};

TEST_F(CountsTest, eachCycleOfTheHiddenViewsReadsAllFourCountsAndAnEndedSessionInOneStartsRecovery)
{
    s_tenant->control("POST", "/counts", { { "task", 4 }, { "notification", 6 }, { "prepaid", 3 }, { "draft", 2 } });
    auto run = startSignedIn(CountsRun::Poller::real);
    ASSERT_TRUE(run);
    auto& poller = run->realPoller;
    auto& pollWebView = run->pollWebView;

    ASSERT_TRUE(runMainLoopUntil([&] { return poller.reading().lastUpdated.has_value(); }, 45s));
    auto& reading = poller.reading();
    EXPECT_EQ(std::tuple(reading.task, reading.notification, reading.prepaid, reading.draft), std::tuple(4, 6, 3, 2));

    // Only the report grid sees itself on screen; the others keep the engine's own answer.
    EXPECT_EQ(value(*pollWebView.reportsView(), "document.visibilityState + ' ' + document.hidden"), "visible false");
    EXPECT_EQ(value(*pollWebView.homeView(), "document.visibilityState + ' ' + document.hidden"), "hidden true");

    // A hidden page's dialogs and windows get nowhere: confirm answers "cancel".
    EXPECT_EQ(value(*pollWebView.expensesView(), "alert('x'); [confirm('y'), window.open('https://wd5.myworkday.test/ashgrove/d/home.htmld') === null].join(' ')"), "false true");

    // New counts appear with the next cycle.
    s_tenant->control("POST", "/counts", { { "task", 8 }, { "notification", 0 }, { "prepaid", 5 }, { "draft", 3 } });
    run->runLoop.advance(30s);
    ASSERT_TRUE(runMainLoopUntil([&] { return std::tuple(reading.task, reading.notification, reading.prepaid, reading.draft) == std::tuple(8, 0, 5, 3); }, 15s));

    // Offline, a reload ends without a new page and the hidden pages keep showing what was read:
    // the poller must not take those counts for new ones.
    s_tenant->control("POST", "/offline", { { "offline", true } });
    auto reloaded = runOnMainLoop(pollWebView.reloadAll());
    EXPECT_EQ(std::tuple(reloaded.home, reloaded.expenses, reloaded.reports), std::tuple(false, false, false));
    EXPECT_EQ(value(*pollWebView.homeView(), "document.querySelector('[data-automation-id=\"inbox_preview\"]').textContent.trim()"), "8");
    s_tenant->control("POST", "/offline", { { "offline", false } });

    // The main view stays on its page; the next reload of the hidden pages meets the ended session.
    auto passwordsBefore = passwordSubmissions();
    // Past the interval within which the saved password is handed out only once.
    s_tenant->control("POST", "/expire-sessions");
    run->runLoop.advance(180s);
    ASSERT_TRUE(runMainLoopUntil([&] { return run->coordinator.isRecoveryInProgress(); }, 15s));
    // Recovery signs in again with the saved password, and the counts keep coming.
    ASSERT_TRUE(runMainLoopUntil([&] { return run->coordinator.isOnHomePage() && passwordSubmissions() > passwordsBefore; }, 30s));
}

TEST_F(CountsTest, countScriptsReadWhatTheTenantPagesShow)
{
    auto run = startSignedIn(CountsRun::Poller::fake);
    ASSERT_TRUE(run);
    auto& views = run->pollWebView;
    auto orNull = [](std::optional<std::int64_t> count) { return count ? json(*count) : json(); };
    // Reads one hidden page (home: task, notification, still loading), after setting the
    // tenant's counts and reloading the pages when given counts.
    auto read = [&](WebView& view, const json& counts) {
        return runOnMainLoop([&]() -> Task<json> {
            if (!counts.is_null()) {
                s_tenant->control("POST", "/counts", counts);
                co_await views.reloadAll();
            }
            if (&view == views.homeView().get()) {
                auto home = interpretHomeCounts(co_await run->readers.readHomeCounts(views.homeView()));
                co_return json { orNull(home.task), orNull(home.notification), home.pageLoading };
            }
            if (&view == views.expensesView().get())
                co_return orNull(co_await run->readers.readPrepaidCount(views.expensesView()));
            co_return orNull(co_await run->readers.readDraftCount(views.reportsView()));
        }());
    };

    struct Row {
        const char* rule;
        WebView& view;
        json counts;
        json expected;
        const char* pageCondition;
    };
    const Row rows[] = {
        { "empty bell: notification absent after the header grace", *views.homeView(), { { "task", 3 }, { "notification", nullptr } },
            { 3, nullptr, false }, "performance.now() - window.__halcyraHeaderSeenAt >= 3000" },
        { "99+ is no task count", *views.homeView(), { { "task", "99+" }, { "notification", 2 } }, { nullptr, 2, false }, "true" },
        { "a hub without the card section is 0 once it is 12 s old and large", *views.expensesView(), { { "prepaid", "absent" } }, 0,
            "performance.now() >= 12000 && document.body.innerHTML.length > 20000" },
        { "No items found is 0 drafts", *views.reportsView(), { { "draft", 0 } }, 0, "true" },
        { "(75 items): the first batch of 50 rows, rendered while hidden thanks to the override", *views.reportsView(), { { "draft", 75 } }, 50, "true" },
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.rule);
        EXPECT_EQ(read(row.view, row.counts), row.expected);
        EXPECT_EQ(value(row.view, row.pageCondition), true);
    }

    // The same 50 rows relabelled as the first batch of 1,234 reports, 7 of them drafts: only
    // the first batch is counted.
    auto& reports = *views.reportsView();
    EXPECT_EQ(value(reports, R"js((function () {
            document.querySelector('[data-automation-id="rowCountLabel"]').textContent = "(1,234 items)";
            var rows = document.querySelectorAll('[data-automation-id="row"]');
            for (var i = 7; i < rows.length; ++i)
                rows[i].querySelectorAll("td")[4].textContent = "Submitted";
            return rows.length;
    })())js"),
        50);
    EXPECT_EQ(read(reports, nullptr), 7);
}

}

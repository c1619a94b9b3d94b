#include "support/FakeWebEngine.h"
#include "support/VirtualRunLoop.h"

#include "counts/CountReaders.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;
    using nlohmann::json;

    TEST(CountValueTest, onlyPlainIntegersWithinSixtyFourBitsAreCounts)
    {
        const std::vector<std::pair<json, Count>> cases {
            { "7", 7 },
            { "+7", 7 },
            { "-3", -3 },
            { "9223372036854775807", INT64_MAX },
            { "99+", std::nullopt },
            { " 7", std::nullopt },
            { "", std::nullopt },
            { "+-3", std::nullopt },
            { "9223372036854775808", std::nullopt },
            { 7.0, 7 },
            { 7.5, std::nullopt },
            { 9223372036854775808.0, std::nullopt },
            { json(18446744073709551615ull), std::nullopt },
            { true, std::nullopt },
            { nullptr, std::nullopt },
        };
        for (auto& [value, expected] : cases)
            EXPECT_EQ(countValue(value), expected) << value.dump();

        EXPECT_EQ(countValue(json { { "task", "4" } }, "notification"), std::nullopt);

        // A home page still loading has no counts yet, whatever its header shows.
        auto loading = interpretHomeCounts(json { { "pageLoading", true }, { "task", "3" }, { "notification", "5" } });
        EXPECT_EQ(std::tuple(loading.pageLoading, loading.task, loading.notification), std::tuple(true, Count(), Count()));
    }

    using Read = Task<Count> (*)(CountReaders&, std::shared_ptr<WebView>);

    // The home reader's value is the task count it read.
    Task<Count> readHome(CountReaders& readers, std::shared_ptr<WebView> view)
    {
        auto result = co_await readers.readHomeCounts(view);
        co_return result ? interpretHomeCounts(result).task : std::nullopt;
    }
    Task<Count> readPrepaid(CountReaders& readers, std::shared_ptr<WebView> view) { co_return co_await readers.readPrepaidCount(view); }
    Task<Count> readDraft(CountReaders& readers, std::shared_ptr<WebView> view) { co_return co_await readers.readDraftCount(view); }

    struct ReadOutcome {
        Count value;
        std::optional<MonotonicTime> finishedAt;
    };

    // Runs one read to its end.
    Task<void> readCount(VirtualRunLoop& loop, Task<Count> read, ReadOutcome& outcome)
    {
        outcome.value = co_await std::move(read);
        outcome.finishedAt = loop.now();
    }

    struct ReaderCase {
        const char* name;
        Read read;
        // Answers in order; the last one repeats. A string answer is an evaluation error.
        std::vector<json> answers;
        Count expected;
        int evaluations;
        Seconds elapsed;
        // When the task is cancelled: the reader ends on the loop's next turn, with nothing.
        std::optional<Seconds> cancelAfter {};
    };

    TEST(CountReadersTest, readersRetryUntilThePageIsReadyAndGiveUpAfterTheirTriesOrWhenCancelled)
    {
        const json homeNotReady { { "pageLoading", true }, { "task", nullptr }, { "notification", nullptr } };
        const json homeReady { { "pageLoading", false }, { "task", "3" }, { "notification", nullptr } };
        std::vector<json> homeLate(29, homeNotReady);
        homeLate.push_back(homeReady);
        const json notLoaded { { "loaded", false }, { "prepaid", nullptr } };
        const json gridNotReady { { "gridPresent", false }, { "erRows", 0 }, { "draft", nullptr } };

        const std::vector<ReaderCase> cases {
            { "home ready on the 30th try", readHome, homeLate, 3, 30, 14.5s },
            { "home never ready", readHome, { homeNotReady }, std::nullopt, 30, 15s },
            { "home errors are retried", readHome, { "error", json(5), homeReady }, 3, 3, 1s },
            { "prepaid at once", readPrepaid, { { { "loaded", true }, { "prepaid", "4" } } }, 4, 1, 0s },
            { "prepaid loaded without a number is 0", readPrepaid, { notLoaded, json::object(), { { "loaded", "yes" } }, "error", { { "loaded", true }, { "prepaid", nullptr } } }, 0, 5, 2s },
            { "prepaid never loaded", readPrepaid, { notLoaded }, std::nullopt, 30, 15s },
            { "draft after the grid filled in", readDraft, { gridNotReady, { { "gridPresent", true }, { "erRows", 3 }, { "draft", nullptr } }, { { "gridPresent", true }, { "erRows", 50 }, { "draft", "7" } } }, 7, 3, 1.5s },
            { "draft never ready", readDraft, { gridNotReady }, std::nullopt, 20, 15s },
            { "draft gives up at once on an error", readDraft, { "error" }, std::nullopt, 1, 0s },
            { "home cancelled", readHome, { homeNotReady }, std::nullopt, 1, 0.1s, 0.1s },
            { "prepaid cancelled", readPrepaid, { notLoaded }, std::nullopt, 1, 0.1s, 0.1s },
            { "draft cancelled", readDraft, { gridNotReady }, std::nullopt, 1, 0.1s, 0.1s },
        };

        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            VirtualRunLoop loop;
            CountReaders readers(loop, "wd5.myworkday.test");
            auto view = std::make_shared<FakeWebView>(WebViewConfiguration {});
            size_t next = 0;
            view->scriptResponder = [&](const FakeWebView::PendingScript&) -> std::optional<ScriptReply> {
                auto& answer = testCase.answers[std::min(next++, testCase.answers.size() - 1)];
                if (answer.is_string() && answer == "error")
                    return ScriptReply::failure("JavaScript exception");
                return ScriptReply::success(answer);
            };

            ReadOutcome outcome;
            auto started = loop.now();
            auto handle = spawn(loop, readCount(loop, testCase.read(readers, view), outcome));
            if (testCase.cancelAfter) {
                loop.advance(*testCase.cancelAfter);
                handle.cancel();
                loop.runUntilIdle();
            }
            loop.advance(60s);

            ASSERT_TRUE(outcome.finishedAt);
            EXPECT_EQ(outcome.value, testCase.expected);
            EXPECT_EQ(static_cast<int>(view->scriptLog().size()), testCase.evaluations);
            EXPECT_DOUBLE_EQ(std::chrono::duration_cast<Seconds>(*outcome.finishedAt - started).count(), testCase.elapsed.count());
        }
    }

}
}

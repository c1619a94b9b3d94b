#include "update/SoftwareUpdater.h"

#include <gtest/gtest.h>
#include <memory>

using namespace halcyra;

namespace {

// Holds each fetch until the test answers it.
class HeldFeed final : public UpdateFeed {
public:
    void fetch(std::function<void(FeedResult)> completion) override
    {
        ++fetchCount;
        pending = std::move(completion);
    }
    void answer(FeedResult result) { std::exchange(pending, nullptr)(std::move(result)); }

    int fetchCount { 0 };
    std::function<void(FeedResult)> pending;
};

AppcastItem release(std::string version)
{
    return { "Halcyra " + version, version, version, "https://downloads.example.org/halcyra/" + version };
}

}

TEST(SoftwareUpdater, versionsCompareByNumberThenByText)
{
    struct Case {
        const char* older;
        const char* newer;
    } cases[] = {
        { "1.9", "1.10" },
        { "1.0", "1.0.1" },
        { "2.0-beta", "2.0" },
        { "2.0-alpha", "2.0-beta" },
        { "2.0b1", "2.0b2" },
        { "9", "10000000000000000000000000000000001" },
    };
    for (auto& testCase : cases) {
        EXPECT_LT(compareVersions(testCase.older, testCase.newer), 0) << testCase.older << " < " << testCase.newer;
        EXPECT_GT(compareVersions(testCase.newer, testCase.older), 0) << testCase.newer << " > " << testCase.older;
    }
    EXPECT_EQ(compareVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(compareVersions("01.2", "1.2"), 0);
}

TEST(SoftwareUpdater, checkReportsTheNewestReleaseOnlyWhenNewerThanTheRunningOne)
{
    struct Case {
        const char* name;
        FeedResult feed;
        std::string expected;
    } cases[] = {
        { "newer release among older ones", std::vector { release("0.0.9"), release("0.3.0"), release("0.2.0") }, "available 0.3.0" },
        { "same version", std::vector { release("0.1.0") }, "up to date 0.1.0" },
        { "empty feed", std::vector<AppcastItem> {}, "up to date 0.1.0" },
        { "unreachable", FeedFailure { "The update server could not be reached: refused" }, "failed The update server could not be reached: refused" },
    };
    for (auto& testCase : cases) {
        HeldFeed feed;
        SoftwareUpdater updater(&feed, "0.1.0");
        std::string outcome;
        updater.checkForUpdates([&](const UpdateCheckResult& result) {
            if (auto* upToDate = std::get_if<UpToDate>(&result))
                outcome = "up to date " + upToDate->currentVersion;
            else if (auto* available = std::get_if<UpdateAvailable>(&result))
                outcome = "available " + available->item.version;
            else
                outcome = "failed " + std::get<UpdateCheckFailed>(result).message;
        });
        feed.answer(testCase.feed);
        EXPECT_EQ(outcome, testCase.expected) << testCase.name;
    }
}

// One check runs at a time, none without a feed, and an answer arriving after the updater is
// gone is dropped.
TEST(SoftwareUpdater, oneCheckAtATimeNoneWithoutAFeedAndNoAnswerOnceGone)
{
    EXPECT_FALSE(SoftwareUpdater(nullptr, "0.1.0").canCheckForUpdates());

    HeldFeed feed;
    auto updater = std::make_unique<SoftwareUpdater>(&feed, "0.1.0");
    int notifications = 0;
    auto observation = updater->observeCanCheckForUpdates([&] { ++notifications; });
    int completions = 0;
    updater->checkForUpdates([&](auto&) { ++completions; });
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->checkForUpdates([&](auto&) { ++completions; });
    EXPECT_EQ(feed.fetchCount, 1);

    feed.answer(std::vector { release("0.1.0") });
    EXPECT_TRUE(updater->canCheckForUpdates());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(notifications, 2);

    updater->checkForUpdates([&](auto&) { ++completions; });
    updater.reset();
    feed.answer(std::vector { release("9.0") });
    EXPECT_EQ(completions, 1);
}

#include "ui/CountBubbles.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

TEST(CountBubbles, onlyCountsOfAtLeastOneShowInToolbarOrder)
{
    auto kinds = [](const ToolbarCounts& counts) {
        std::string text;
        for (auto& bubble : countBubbles(counts))
            text += bubble.accessibility + "|";
        return text;
    };
    EXPECT_EQ(kinds({ 2, std::nullopt, 0, 5 }), "5 draft expense reports. Tap to view.|2 outstanding tasks. Tap to review.|");
    EXPECT_EQ(kinds({ 1, 1, 1, 1 }),
        "1 draft expense reports. Tap to view.|1 prepaid credit card transactions. Tap to view.|"
        "1 notifications. Tap to view.|1 outstanding tasks. Tap to review.|");
    EXPECT_EQ(kinds({ 0, -3, std::nullopt, 0 }), "");
}

TEST(CountBubbles, subtitleTellsTheAgeOnlyWhilePollingNormally)
{
    const WallTime now = wallTimeFromSecondsSince1970(1'800'000'000);
    struct Case {
        bool isIdleOrPolling;
        std::optional<WallTime> lastUpdated;
        std::string expected;
    } cases[] = {
        { true, now - 59'900ms, "Updated just now" },
        { true, now - 60s, "Updated 1 minute ago" },
        { true, now - 3min, "Updated 3 minutes ago" },
        { true, now - 2h - 5min, "Updated 2 hours ago" },
        { true, now - 30h, "Updated yesterday" },
        { true, now - 24h * 4, "Updated 4 days ago" },
        { true, std::nullopt, "Connecting…" },
        { false, now - 10s, "Connecting…" },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(subtitleText(testCase.isIdleOrPolling, testCase.lastUpdated, now, "Connecting…"), testCase.expected);
}

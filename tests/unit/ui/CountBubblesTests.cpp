#include "ui/CountBubbles.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

// Which bubbles show, in which order, is read off the toolbar (tests/ui/MainToolbarTests.cpp).
TEST(CountBubbles, subtitleTellsTheAgeOnlyWhilePollingNormally)
{
    const WallTime now = wallTimeFromSecondsSince1970(1'800'000'000);
    struct Case {
        PollState state;
        std::optional<WallTime> lastUpdated;
        std::string expected;
    } cases[] = {
        { PollState::polling(), now - 59'900ms, "Updated just now" },
        { PollState::polling(), now - 60s, "Updated 1 minute ago" },
        { PollState::idle(), now - 3min, "Updated 3 minutes ago" },
        { PollState::polling(), now - 2h - 5min, "Updated 2 hours ago" },
        { PollState::polling(), now - 30h, "Updated yesterday" },
        { PollState::polling(), now - 24h * 4, "Updated 4 days ago" },
        { PollState::polling(), std::nullopt, "Connecting…" },
        { PollState::notSignedIn(), now - 10s, "Connecting…" },
        { PollState::failed("Counts unreadable"), now - 10s, "Counts unreadable" },
    };
    for (auto& testCase : cases) {
        CountsReading reading { .lastUpdated = testCase.lastUpdated, .state = testCase.state, .statusText = testCase.state.message.empty() ? "Connecting…" : testCase.state.message };
        EXPECT_EQ(subtitleText(reading, now), testCase.expected);
    }
}

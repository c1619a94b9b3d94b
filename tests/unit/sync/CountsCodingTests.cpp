#include "sync/CountsCoding.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

TEST(CountsCoding, recordsAreReadWholeOrNotAtAll)
{
    // 2026-12-05T12:00:00Z
    auto noon = wallTimeFromSecondsSince1970(1796472000);
    const std::vector<std::pair<std::string, std::optional<WallTime>>> cases {
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2026-12-05T12:00:00Z"})", noon },
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2026-12-05T12:00:00.25Z"})", noon + 250ms },
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2026-12-05T13:00:00+01:00"})", noon },
        { R"({"task":3,"notification":0,"prepaid":1,"observedAt":"2026-12-05T12:00:00Z"})", std::nullopt },
        { R"({"task":"3","notification":0,"prepaid":1,"draft":2,"observedAt":"2026-12-05T12:00:00Z"})", std::nullopt },
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2026-12-05T12:00:00"})", std::nullopt },
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2026-02-30T12:00:00Z"})", std::nullopt },
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":1796472000})", std::nullopt },
        { R"({"task":-3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2026-12-05T12:00:00Z"})", std::nullopt },
        // Beyond what the clock holds, or so far out that it would win or lose against every reading.
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"1600-01-01T00:00:00Z"})", std::nullopt },
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2300-01-01T00:00:00Z"})", std::nullopt },
        { R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2150-01-01T00:00:00Z"})", std::nullopt },
    };
    for (auto& [body, observedAt] : cases) {
        auto counts = syncedCountsFromRecordFields(nlohmann::ordered_json::parse(body));
        EXPECT_EQ(counts.has_value(), observedAt.has_value()) << body;
        if (counts && observedAt) {
            EXPECT_EQ(*counts, (SyncedCounts { 3, 0, 1, 2, *observedAt })) << body;
        }
    }

    SyncedCounts counts { 3, 0, 1, 2, noon + 7ms };
    EXPECT_EQ(recordFields(counts).dump(), R"({"task":3,"notification":0,"prepaid":1,"draft":2,"observedAt":"2026-12-05T12:00:00.007Z"})");
    // Stored times count seconds from 2001-01-01 00:00:00 UTC.
    EXPECT_DOUBLE_EQ(storedCounts(counts)["observedAt"].get<double>(), 1796472000.007 - 978307200);
    EXPECT_EQ(syncedCountsFromStored(storedCounts(counts)), counts);
    EXPECT_FALSE(syncedCountsFromStored(nlohmann::json { { "task", 3 } }));
    EXPECT_FALSE(syncedCountsFromStored(nlohmann::json { { "task", 3 }, { "notification", 0 }, { "prepaid", 1 }, { "draft", 2 }, { "observedAt", -1e10 } }));
}

}

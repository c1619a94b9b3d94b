#pragma once

#include "base/Task.h"
#include "base/Time.h"

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace halcyra {

class RunLoop;
class WebView;

// A count is a signed 64-bit integer, absent when it was not read; it is never shown as 0 in its
// place.
using Count = std::optional<std::int64_t>;

// A number holding an integer, or a text of an optional "+" or "-" and ASCII digits only, within
// the 64-bit range; anything else (null, "", "99+", "1,234", " 7", 7.5, true) is absent.
Count countValue(const nlohmann::json&);
// The same for a key of a script result; a missing key is absent.
Count countValue(const nlohmann::json& object, const char* key);

// One read of the home page header, as the poller uses it.
struct HomeCountsResult {
    Count task;
    Count notification;
    // The page never became ready.
    bool pageLoading { false };
    // There was no web view to read.
    bool noView { false };
};
HomeCountsResult interpretHomeCounts(const std::optional<nlohmann::json>& homeResult);

// Reads the counts out of the pages by evaluating the count scripts, trying again while a page
// is not ready. A cancelled task ends a reader at once with nothing.
class CountReaders {
public:
    static constexpr int homeTries = 30;
    static constexpr Seconds homeRetryDelay { 0.5 };
    static constexpr int prepaidTries = 30;
    static constexpr Seconds prepaidRetryDelay { 0.5 };
    static constexpr int draftTries = 20;
    static constexpr Seconds draftRetryDelay { 0.75 };

    CountReaders(RunLoop&, const std::string& tenantHost);

    // The first home result that is no longer loading.
    Task<std::optional<nlohmann::json>> readHomeCounts(std::shared_ptr<WebView>);
    Task<std::optional<std::int64_t>> readPrepaidCount(std::shared_ptr<WebView>);
    Task<std::optional<std::int64_t>> readDraftCount(std::shared_ptr<WebView>);

    // Every script evaluation the readers started, for diagnostics and benchmarks.
    long long evaluationCount() const { return m_evaluationCount; }

private:
    RunLoop& m_loop;
    const std::string m_homeCountsScript;
    const std::string m_prepaidScript;
    const std::string m_draftReportsScript;
    long long m_evaluationCount { 0 };
};

}

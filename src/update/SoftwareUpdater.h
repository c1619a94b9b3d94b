#pragma once

#include "base/Signal.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace halcyra {

// One release announced by the update feed.
struct AppcastItem {
    std::string title;
    // The machine-comparable version, and the one shown to people when the feed gives it.
    std::string version;
    std::string shortVersion;
    // The https page that describes the release and offers it.
    std::string releasePageURL;
};

struct FeedFailure {
    std::string message;
};
using FeedResult = std::variant<std::vector<AppcastItem>, FeedFailure>;

// Fetches and parses the release feed; calls back once, on the main loop.
class UpdateFeed {
public:
    virtual ~UpdateFeed() = default;
    virtual void fetch(std::function<void(FeedResult)> completion) = 0;
};

struct UpToDate {
    std::string currentVersion;
};
struct UpdateAvailable {
    AppcastItem item;
};
struct UpdateCheckFailed {
    std::string message;
};
using UpdateCheckResult = std::variant<UpToDate, UpdateAvailable, UpdateCheckFailed>;

// Negative, zero or positive as `a` is older than, the same as or newer than `b`; numeric parts
// compare as numbers ("1.10" is newer than "1.9"), other parts as text.
int compareVersions(const std::string& a, const std::string& b);

// "Check for Updates…": asks the feed, when one is configured, and compares its newest release
// with the running version. Only one check runs at a time.
class SoftwareUpdater {
public:
    // Without a feed, checking is never possible.
    SoftwareUpdater(UpdateFeed*, std::string currentVersion);

    bool canCheckForUpdates() const { return m_feed && !m_isChecking; }
    [[nodiscard]] Connection observeCanCheckForUpdates(std::function<void()> willChange) { return m_canCheckWillChange.connect(std::move(willChange)); }

    void checkForUpdates(std::function<void(const UpdateCheckResult&)> completion);

private:
    void setChecking(bool);
    UpdateCheckResult result(const FeedResult&) const;

    UpdateFeed* m_feed;
    std::string m_currentVersion;
    // A feed answer that arrives after the updater is gone finds this expired.
    std::shared_ptr<SoftwareUpdater*> m_weakThis { std::make_shared<SoftwareUpdater*>(this) };
    bool m_isChecking { false };
    Signal<> m_canCheckWillChange;
};

}

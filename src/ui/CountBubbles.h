#pragma once

#include "base/Time.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

// The four counts as the toolbar shows them; absent when not read.
struct ToolbarCounts {
    std::optional<std::int64_t> task;
    std::optional<std::int64_t> notification;
    std::optional<std::int64_t> prepaid;
    std::optional<std::int64_t> draft;
};

enum class BubbleKind { draft,
    prepaid,
    notification,
    task };

// One count bubble of the toolbar: its symbol, its number, and the text that is both its tooltip
// and its accessible label.
struct CountBubble {
    BubbleKind kind;
    const char* iconName;
    std::int64_t count;
    std::string accessibility;

    bool operator==(const CountBubble&) const = default;
};

// The bubbles to show, in toolbar order (draft, prepaid, notification, task): one per count that
// was read and is at least 1.
std::vector<CountBubble> countBubbles(const ToolbarCounts&);

// "Updated just now" within a minute of the last complete update, else "Updated " and how long
// ago; without an update, or while not polling normally, the poller's status text.
std::string subtitleText(bool isIdleOrPolling, std::optional<WallTime> lastUpdated, WallTime now, const std::string& statusText);

// "5 minutes ago", "2 hours ago", "yesterday", "3 days ago".
std::string relativeTimeText(Seconds age);

}

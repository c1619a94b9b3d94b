#pragma once

#include "base/Time.h"
#include "counts/CountsReading.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

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
std::vector<CountBubble> countBubbles(const CountsReading&);

// The window subtitle, also published on D-Bus: "Updated just now" within a minute of the last
// complete update, else "Updated " and how long ago; without an update, or while not polling
// normally, the reading's status text.
std::string subtitleText(const CountsReading&, WallTime now);

// "5 minutes ago", "2 hours ago", "yesterday", "3 days ago".
std::string relativeTimeText(Seconds age);

}

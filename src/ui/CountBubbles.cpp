#include "CountBubbles.h"

namespace halcyra {

std::vector<CountBubble> countBubbles(const ToolbarCounts& counts)
{
    struct Row {
        BubbleKind kind;
        std::optional<std::int64_t> count;
        const char* iconName;
        const char* text;
    };
    const Row rows[] = {
        { BubbleKind::draft, counts.draft, "x-office-document-symbolic", " draft expense reports. Tap to view." },
        { BubbleKind::prepaid, counts.prepaid, "auth-smartcard-symbolic", " prepaid credit card transactions. Tap to view." },
        { BubbleKind::notification, counts.notification, "preferences-system-notifications-symbolic", " notifications. Tap to view." },
        { BubbleKind::task, counts.task, "mail-unread-symbolic", " outstanding tasks. Tap to review." },
    };
    std::vector<CountBubble> bubbles;
    for (auto& row : rows) {
        if (row.count && *row.count >= 1)
            bubbles.push_back({ row.kind, row.iconName, *row.count, std::to_string(*row.count) + row.text });
    }
    return bubbles;
}

std::string relativeTimeText(Seconds age)
{
    auto plural = [](long long amount, const char* unit) {
        return std::to_string(amount) + " " + unit + (amount == 1 ? "" : "s") + " ago";
    };
    auto minutes = static_cast<long long>(age.count() / 60);
    if (minutes < 60)
        return plural(std::max(minutes, 1LL), "minute");
    auto hours = minutes / 60;
    if (hours < 24)
        return plural(hours, "hour");
    auto days = hours / 24;
    if (days == 1)
        return "yesterday";
    return plural(days, "day");
}

std::string subtitleText(bool isIdleOrPolling, std::optional<WallTime> lastUpdated, WallTime now, const std::string& statusText)
{
    if (!isIdleOrPolling || !lastUpdated)
        return statusText;
    auto age = std::chrono::duration_cast<Seconds>(now - *lastUpdated);
    if (age < Seconds(60))
        return "Updated just now";
    return "Updated " + relativeTimeText(age);
}

}

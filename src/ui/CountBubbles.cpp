#include "CountBubbles.h"

#include "base/Localization.h"

#include <algorithm>

namespace halcyra {

std::vector<CountBubble> countBubbles(const CountsReading& counts)
{
    struct Row {
        BubbleKind kind;
        std::optional<std::int64_t> count;
        const char* iconName;
        const char* text;
    };
    const Row rows[] = {
        { BubbleKind::draft, counts.draft, "x-office-document-symbolic", N_("%s draft expense reports. Tap to view.") },
        { BubbleKind::prepaid, counts.prepaid, "auth-smartcard-symbolic", N_("%s prepaid credit card transactions. Tap to view.") },
        { BubbleKind::notification, counts.notification, "preferences-system-notifications-symbolic", N_("%s notifications. Tap to view.") },
        { BubbleKind::task, counts.task, "mail-unread-symbolic", N_("%s outstanding tasks. Tap to review.") },
    };
    std::vector<CountBubble> bubbles;
    for (auto& row : rows) {
        if (row.count && *row.count >= 1)
            bubbles.push_back({ row.kind, row.iconName, *row.count, formatted(_(row.text), std::to_string(*row.count)) });
    }
    return bubbles;
}

std::string relativeTimeText(Seconds age)
{
    auto count = [](long long amount) { return static_cast<unsigned long>(amount); };
    auto minutes = static_cast<long long>(age.count() / 60);
    if (minutes < 60) {
        minutes = std::max(minutes, 1LL);
        return formatted(ngettext("%s minute ago", "%s minutes ago", count(minutes)), std::to_string(minutes));
    }
    auto hours = minutes / 60;
    if (hours < 24)
        return formatted(ngettext("%s hour ago", "%s hours ago", count(hours)), std::to_string(hours));
    auto days = hours / 24;
    if (days == 1)
        return _("yesterday");
    return formatted(ngettext("%s day ago", "%s days ago", count(days)), std::to_string(days));
}

std::string subtitleText(const CountsReading& reading, WallTime now)
{
    // The poller's own texts are marked for translation where it writes them; a failure's
    // message has no translation and stands as it is.
    auto kind = reading.state.kind;
    bool isIdleOrPolling = kind == PollState::Kind::idle || kind == PollState::Kind::polling;
    if (!isIdleOrPolling || !reading.lastUpdated)
        return reading.statusText.empty() ? reading.statusText : gettext(reading.statusText.c_str());
    auto age = std::chrono::duration_cast<Seconds>(now - *reading.lastUpdated);
    if (age < Seconds(60))
        return _("Updated just now");
    return formatted(_("Updated %s"), relativeTimeText(age));
}

}

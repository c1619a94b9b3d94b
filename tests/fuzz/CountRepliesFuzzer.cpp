#include "FuzzTarget.h"
#include "counts/CountReaders.h"
#include "support/FakeWebEngine.h"
#include "support/RunTask.h"
#include "support/VirtualRunLoop.h"

#include <sstream>

using namespace halcyra;
using namespace std::chrono_literals;

// The count scripts' replies, one JSON value (or an error, for a line that is none) per line,
// through countValue and the three readers; the readers get the lines in turn, then errors.
HALCYRA_FUZZ_TARGET(countReplies)
{
    std::vector<std::optional<nlohmann::json>> replies;
    std::istringstream lines { std::string(input) };
    for (std::string line; std::getline(lines, line) && replies.size() < 64;) {
        auto value = nlohmann::json::parse(line, nullptr, false);
        replies.push_back(value.is_discarded() ? std::nullopt : std::optional(value));
        if (!replies.back())
            continue;
        auto count = countValue(value);
        if (value.is_number_integer() && !value.is_number_unsigned())
            fuzz::check(count == value.get<std::int64_t>(), "an integer is its own count");
        if (count && value.is_string())
            fuzz::check(std::stoll(value.get<std::string>()) == *count, "a count text reads as its number");
        interpretHomeCounts(value);
    }

    VirtualRunLoop loop;
    CountReaders readers(loop, "wd5.myworkday.test");
    auto view = std::make_shared<FakeWebView>(WebViewConfiguration {});
    size_t next = 0;
    view->scriptResponder = [&](const FakeWebView::PendingScript&) -> std::optional<ScriptReply> {
        if (next >= replies.size() || !replies[next]) {
            ++next;
            return ScriptReply::failure("TypeError");
        }
        return ScriptReply::success(*replies[next++]);
    };
    auto iterate = [&] { loop.advance(1s); };
    auto home = runTask(loop, readers.readHomeCounts(view), iterate);
    interpretHomeCounts(home);
    next = 0;
    runTask(loop, readers.readPrepaidCount(view), iterate);
    next = 0;
    runTask(loop, readers.readDraftCount(view), iterate);
}

#include "CountReaders.h"

#include "CountScripts.h"
#include "base/RunLoop.h"
#include "session/WebEngine.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace halcyra {

namespace {

    Count countFromText(const std::string& text)
    {
        size_t digitsStart = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
        if (digitsStart == text.size())
            return std::nullopt;
        for (size_t index = digitsStart; index < text.size(); ++index) {
            if (text[index] < '0' || text[index] > '9')
                return std::nullopt;
        }
        // from_chars takes a minus sign but not a plus.
        size_t parseStart = text[0] == '+' ? 1 : 0;
        std::int64_t value = 0;
        auto [end, error] = std::from_chars(text.data() + parseStart, text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return value;
    }

    Count countFromNumber(const nlohmann::json& value)
    {
        if (value.is_number_unsigned()) {
            auto number = value.get<std::uint64_t>();
            if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return std::nullopt;
            return static_cast<std::int64_t>(number);
        }
        if (value.is_number_integer())
            return value.get<std::int64_t>();
        auto number = value.get<double>();
        // 2^63 itself is out of range; -2^63 is in.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(number) || number != std::trunc(number) || number < -limit || number >= limit)
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }

    bool isBooleanTrue(const nlohmann::json& object, const char* key)
    {
        auto entry = object.find(key);
        return entry != object.end() && entry->is_boolean() && entry->get<bool>();
    }

}

Count countValue(const nlohmann::json& value)
{
    if (value.is_number())
        return countFromNumber(value);
    if (value.is_string())
        return countFromText(value.get<std::string>());
    return std::nullopt;
}

Count countValue(const nlohmann::json& object, const char* key)
{
    if (!object.is_object())
        return std::nullopt;
    auto entry = object.find(key);
    return entry == object.end() ? std::nullopt : countValue(*entry);
}

HomeCountsResult interpretHomeCounts(const std::optional<nlohmann::json>& homeResult)
{
    HomeCountsResult result;
    if (!homeResult || isBooleanTrue(*homeResult, "pageLoading")) {
        result.pageLoading = true;
        return result;
    }
    result.task = countValue(*homeResult, "task");
    result.notification = countValue(*homeResult, "notification");
    return result;
}

CountReaders::CountReaders(RunLoop& loop, const std::string& tenantHost)
    : m_loop(loop)
    , m_homeCountsScript(homeCountsScript(tenantHost))
    , m_prepaidScript(prepaidScript(tenantHost))
    , m_draftReportsScript(draftReportsScript(tenantHost))
{
}

Task<std::optional<nlohmann::json>> CountReaders::readHomeCounts(std::shared_ptr<WebView> view)
{
    for (int attempt = 1; attempt <= homeTries; ++attempt) {
        ++m_evaluationCount;
        auto result = co_await evaluate(*view, m_homeCountsScript);
        if (!result)
            co_return std::nullopt;
        if (!result->isError() && result->value->is_object() && !isBooleanTrue(*result->value, "pageLoading"))
            co_return std::move(*result->value);
        bool hasElapsed = co_await sleep(m_loop, homeRetryDelay);
        if (!hasElapsed)
            co_return std::nullopt;
    }
    co_return std::nullopt;
}

Task<std::optional<std::int64_t>> CountReaders::readPrepaidCount(std::shared_ptr<WebView> view)
{
    for (int attempt = 1; attempt <= prepaidTries; ++attempt) {
        ++m_evaluationCount;
        auto result = co_await evaluate(*view, m_prepaidScript);
        if (!result)
            co_return std::nullopt;
        if (!result->isError() && isBooleanTrue(*result->value, "loaded")) {
            // A hub that has loaded but shows no number has nothing awaiting action.
            auto prepaid = result->value->find("prepaid");
            Count count = prepaid != result->value->end() && prepaid->is_string() ? countValue(*prepaid) : std::nullopt;
            co_return count.value_or(0);
        }
        bool hasElapsed = co_await sleep(m_loop, prepaidRetryDelay);
        if (!hasElapsed)
            co_return std::nullopt;
    }
    co_return std::nullopt;
}

Task<std::optional<std::int64_t>> CountReaders::readDraftCount(std::shared_ptr<WebView> view)
{
    for (int attempt = 1; attempt <= draftTries; ++attempt) {
        ++m_evaluationCount;
        // Nothing comes back when the task was cancelled before or during the evaluation.
        auto result = co_await evaluate(*view, m_draftReportsScript);
        if (!result || result->isError() || !result->value->is_object())
            co_return std::nullopt;
        auto& value = *result->value;
        bool isGridPresent = isBooleanTrue(value, "gridPresent");
        auto draft = value.find("draft");
        Count count = draft != value.end() && draft->is_string() ? countValue(*draft) : std::nullopt;
        if (isGridPresent && count)
            co_return count;
        bool hasElapsed = co_await sleep(m_loop, draftRetryDelay);
        if (!hasElapsed)
            co_return std::nullopt;
    }
    co_return std::nullopt;
}

}

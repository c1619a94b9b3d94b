#include "CountsCoding.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

namespace halcyra {

namespace {

    using namespace std::chrono;

    // Seconds from 1970-01-01 to 2001-01-01, the reference date of stored times.
    constexpr double referenceDateOffset = 978307200;

    // Readings are taken between the reference date and the end of the century. A date outside
    // would win or lose against every real reading, and far enough out it no longer fits the
    // clock's nanoseconds (which end in 2262).
    constexpr auto earliestReading = sys_days(year(2001) / January / 1);
    constexpr auto latestReading = sys_days(year(2100) / January / 1);

    bool isReadingDate(WallTime time)
    {
        return time >= earliestReading && time < latestReading;
    }

    constexpr std::array<const char*, 4> countKeys { "task", "notification", "prepaid", "draft" };

    std::array<std::int64_t SyncedCounts::*, 4> countMembers()
    {
        return { &SyncedCounts::task, &SyncedCounts::notification, &SyncedCounts::prepaid, &SyncedCounts::draft };
    }

    struct Fields {
        year_month_day date;
        hh_mm_ss<milliseconds> time;
    };

    Fields split(WallTime time)
    {
        auto milliseconds = floor<std::chrono::milliseconds>(time);
        auto days = floor<std::chrono::days>(milliseconds);
        return { year_month_day(days), hh_mm_ss<std::chrono::milliseconds>(milliseconds - days) };
    }

    bool readNumber(std::string_view text, size_t& position, size_t digits, int& value)
    {
        if (position + digits > text.size())
            return false;
        auto begin = text.data() + position;
        for (size_t index = 0; index < digits; ++index) {
            if (begin[index] < '0' || begin[index] > '9')
                return false;
        }
        std::from_chars(begin, begin + digits, value);
        position += digits;
        return true;
    }

    bool expect(std::string_view text, size_t& position, std::string_view choices)
    {
        if (position >= text.size() || choices.find(text[position]) == std::string_view::npos)
            return false;
        ++position;
        return true;
    }

    template <typename Json>
    std::optional<std::int64_t> integer(const Json& object, const char* key)
    {
        auto found = object.find(key);
        if (found == object.end())
            return std::nullopt;
        if (found->is_number_unsigned()) {
            auto value = found->template get<std::uint64_t>();
            if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return std::nullopt;
            return static_cast<std::int64_t>(value);
        }
        if (found->is_number_integer())
            return found->template get<std::int64_t>();
        return std::nullopt;
    }

    template <typename Json>
    bool readCounts(const Json& object, SyncedCounts& counts)
    {
        auto members = countMembers();
        for (size_t index = 0; index < countKeys.size(); ++index) {
            auto value = integer(object, countKeys[index]);
            if (!value || *value < 0)
                return false;
            counts.*members[index] = *value;
        }
        return true;
    }

}

std::string rfc3339String(WallTime time)
{
    auto [date, clock] = split(time);
    std::array<char, 40> buffer {};
    std::snprintf(buffer.data(), buffer.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
        static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return buffer.data();
}

std::string logDateDescription(WallTime time)
{
    auto [date, clock] = split(time);
    std::array<char, 40> buffer {};
    std::snprintf(buffer.data(), buffer.size(), "%04d-%02u-%02u %02d:%02d:%02d +0000", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
        static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()));
    return buffer.data();
}

std::optional<WallTime> parseRFC3339(std::string_view text)
{
    size_t position = 0;
    int year, month, day, hour, minute, second;
    if (!readNumber(text, position, 4, year) || !expect(text, position, "-") || !readNumber(text, position, 2, month)
        || !expect(text, position, "-") || !readNumber(text, position, 2, day) || !expect(text, position, "Tt ")
        || !readNumber(text, position, 2, hour) || !expect(text, position, ":") || !readNumber(text, position, 2, minute)
        || !expect(text, position, ":") || !readNumber(text, position, 2, second))
        return std::nullopt;
    // A leap second reads as the last moment of its minute.
    if (hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    second = std::min(second, 59);

    nanoseconds fraction { 0 };
    if (position < text.size() && text[position] == '.') {
        ++position;
        size_t digits = 0;
        long long scale = 100000000;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            fraction += nanoseconds((text[position] - '0') * scale);
            scale /= 10;
            ++position;
            ++digits;
        }
        if (!digits)
            return std::nullopt;
    }

    minutes offset { 0 };
    if (expect(text, position, "Zz")) {
    } else if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        int sign = text[position++] == '-' ? -1 : 1;
        int offsetHours, offsetMinutes;
        if (!readNumber(text, position, 2, offsetHours) || !expect(text, position, ":") || !readNumber(text, position, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offset = minutes(sign * (offsetHours * 60 + offsetMinutes));
    } else
        return std::nullopt;
    if (position != text.size())
        return std::nullopt;

    year_month_day date { std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)), std::chrono::day(static_cast<unsigned>(day)) };
    // Beyond these years the nanoseconds of a WallTime overflow.
    if (!date.ok() || date.year() < std::chrono::year(1970) || date.year() > std::chrono::year(2200))
        return std::nullopt;
    auto instant = sys_days(date) + hours(hour) + minutes(minute) + seconds(second) + fraction - offset;
    return time_point_cast<WallTime::duration>(instant);
}

nlohmann::ordered_json recordFields(const SyncedCounts& counts)
{
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    auto members = countMembers();
    for (size_t index = 0; index < countKeys.size(); ++index)
        fields[countKeys[index]] = counts.*members[index];
    fields["observedAt"] = rfc3339String(counts.observedAt);
    return fields;
}

std::optional<SyncedCounts> syncedCountsFromRecordFields(const nlohmann::ordered_json& fields)
{
    if (!fields.is_object())
        return std::nullopt;
    SyncedCounts counts;
    if (!readCounts(fields, counts))
        return std::nullopt;
    auto observedAt = fields.find("observedAt");
    if (observedAt == fields.end() || !observedAt->is_string())
        return std::nullopt;
    auto time = parseRFC3339(observedAt->get<std::string>());
    if (!time || !isReadingDate(*time))
        return std::nullopt;
    counts.observedAt = *time;
    return counts;
}

nlohmann::json storedCounts(const SyncedCounts& counts)
{
    return {
        { "task", counts.task },
        { "notification", counts.notification },
        { "prepaid", counts.prepaid },
        { "draft", counts.draft },
        { "observedAt", secondsSince1970(counts.observedAt) - referenceDateOffset },
    };
}

std::optional<SyncedCounts> syncedCountsFromStored(const std::optional<nlohmann::json>& stored)
{
    if (!stored || !stored->is_object())
        return std::nullopt;
    SyncedCounts counts;
    if (!readCounts(*stored, counts))
        return std::nullopt;
    auto observedAt = stored->find("observedAt");
    if (observedAt == stored->end() || !observedAt->is_number())
        return std::nullopt;
    // Checked as seconds, before the conversion to the clock's nanoseconds can overflow.
    auto seconds = observedAt->get<double>() + referenceDateOffset;
    if (!(seconds >= secondsSince1970(earliestReading) && seconds < secondsSince1970(latestReading)))
        return std::nullopt;
    // A double keeps about a tenth of a microsecond at today's dates; what was stored was exact
    // to the microsecond at least.
    auto time = wallTimeFromSecondsSince1970(seconds);
    counts.observedAt = time_point_cast<WallTime::duration>(round<microseconds>(time));
    return counts;
}

}

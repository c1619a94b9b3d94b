#include "CourseTitle.h"

#include <optional>
#include <set>
#include <string_view>

namespace halcyra {

namespace {

    // The length of the white space character at the start of `text` (0 when there is none),
    // counting as white space what a web page's own scripts do: the ASCII spaces and line breaks,
    // the no-break space that HTML tables put between a course code and its number, and the
    // other Unicode spaces.
    std::size_t whiteSpaceLength(std::string_view text)
    {
        if (text.empty())
            return 0;
        switch (text[0]) {
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
            return 1;
        default:
            break;
        }
        static constexpr std::string_view wideSpaces[] = {
            "\u00a0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
            "\u2009", "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000", "\ufeff"
        };
        for (auto space : wideSpaces) {
            if (text.starts_with(space))
                return space.size();
        }
        return 0;
    }

    // The course code a section starts with: capitals or ampersands, white space, digits and
    // optional capitals ("COMP 112L" of "COMP 112L-02 Laboratory"). Each part stops where the next
    // begins, so one pass finds it, whatever the length of the text.
    std::optional<std::string_view> courseCode(std::string_view section)
    {
        auto isCapital = [](char c) { return c >= 'A' && c <= 'Z'; };
        auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        std::size_t end = 0;
        while (end < section.size() && (isCapital(section[end]) || section[end] == '&'))
            ++end;
        if (!end)
            return std::nullopt;
        auto spaceStart = end;
        while (auto length = whiteSpaceLength(section.substr(end)))
            end += length;
        if (end == spaceStart)
            return std::nullopt;
        auto digitStart = end;
        while (end < section.size() && isDigit(section[end]))
            ++end;
        if (end == digitStart)
            return std::nullopt;
        while (end < section.size() && isCapital(section[end]))
            ++end;
        return section.substr(0, end);
    }

}

std::string courseTitle(const std::vector<Student>& students)
{
    // std::string compares bytes, which for UTF-8 is code-point order.
    std::set<std::string> codes;
    for (auto& student : students) {
        for (auto& section : student.sections) {
            if (auto code = courseCode(section))
                codes.emplace(*code);
        }
    }
    if (codes.empty() || codes.size() > 3)
        return "Course";
    std::string title;
    for (auto& code : codes)
        title += (title.empty() ? "" : " + ") + code;
    return title;
}

}

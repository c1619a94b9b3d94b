#include "CourseTitle.h"

#include <regex>
#include <set>

namespace halcyra {

std::string courseTitle(const std::vector<Student>& students)
{
    // Anchored at the start: capitals or ampersands, white space, digits, optional capitals.
    static const std::regex courseCode(R"(^[A-Z&]+\s+\d+[A-Z]*)");
    // std::string compares bytes, which for UTF-8 is code-point order.
    std::set<std::string> codes;
    for (auto& student : students) {
        for (auto& section : student.sections) {
            std::smatch match;
            if (std::regex_search(section, match, courseCode, std::regex_constants::match_continuous))
                codes.insert(match.str());
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

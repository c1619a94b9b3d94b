#include "FuzzTarget.h"
#include "roster/CourseTitle.h"

using namespace halcyra;

// The section texts of a roster, one per line, spread over two students.
HALCYRA_FUZZ_TARGET(courseTitle)
{
    std::vector<Student> students(2);
    size_t start = 0;
    for (size_t index = 0; start <= input.size(); ++index) {
        auto end = input.find('\n', start);
        students[index % 2].sections.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    fuzz::check(!courseTitle(students).empty(), "a roster always has a title");
}

#include "FuzzTarget.h"
#include "roster/CourseTitle.h"

#include <algorithm>

using namespace halcyra;

// The section texts of a roster, one per line, spread over two students.
HALCYRA_FUZZ_TARGET(courseTitle)
{
    std::vector<Student> students(2);
    for (size_t start = 0, index = 0; start <= input.size(); ++index) {
        auto end = std::min(input.find('\n', start), input.size());
        students[index % 2].sections.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    fuzz::check(!courseTitle(students).empty(), "a roster always has a title");
}

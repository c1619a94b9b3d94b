#pragma once

#include <optional>
#include <string>
#include <vector>

namespace halcyra {

// One row of a course-section roster, as read from the page.
struct Student {
    std::string first;
    std::string last;
    std::string email;
    std::string classOf;
    std::string programs;
    // Distinct course-section texts of this student, in order of first appearance.
    std::vector<std::string> sections;
    // Absolute photo URL without query or fragment.
    std::optional<std::string> photo;

    bool operator==(const Student&) const = default;
};

}

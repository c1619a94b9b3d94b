#pragma once

#include "Student.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace halcyra {

// A course-section roster: the item count the page shows, if any, and every student in the
// order the page first listed them.
struct Roster {
    std::optional<std::int64_t> total;
    std::vector<Student> students;

    bool operator==(const Roster&) const = default;
};

}

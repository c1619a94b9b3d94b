#pragma once

#include "Student.h"

#include <string>
#include <vector>

namespace halcyra {

// The course codes of the students' sections ("COMP 112 + COMP 112L"), or "Course" when there
// are none or more than three.
std::string courseTitle(const std::vector<Student>&);

}

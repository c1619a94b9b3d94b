#pragma once

#include "FrameContacts.h"
#include "Student.h"

#include <string>
#include <string_view>
#include <vector>

namespace halcyra {

// A text value escaped for a vCard: backslash, comma and semicolon get a backslash; line breaks
// (CR LF or LF) become backslash-n. A lone CR stays.
std::string escapeText(std::string_view);

// A content line folded so that no physical line holds more than 75 UTF-8 bytes: continuation
// lines start with one space, and no character is ever cut.
std::string foldLine(std::string_view);

// One vCard 3.0 per student, in order, with the JPEG in `photos` under the student's position.
// UTF-8, lines ending in CR LF.
std::string vCardData(const std::vector<Student>&, const PhotoMap& photos);

// Standard base64 with padding.
std::string base64Encoded(std::string_view);

}

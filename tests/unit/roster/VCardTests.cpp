#include "roster/ContactExport.h"
#include "roster/CourseTitle.h"
#include "roster/VCard.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    std::vector<std::string> physicalLines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        lines.push_back(text.substr(start));
        return lines;
    }

    TEST(VCard, linesFoldAt75BytesWithoutCuttingACharacter)
    {
        const std::string euro = "\u20ac"; // three bytes
        const std::string flag = "\U0001F1E8\U0001F1E6"; // two code points, one character
        struct Case {
            const char* name;
            std::string line;
            std::vector<std::string> expected;
        };
        const Case cases[] = {
            { "75 bytes stay", std::string(75, 'a'), { std::string(75, 'a') } },
            { "76 bytes fold", std::string(76, 'a'), { std::string(75, 'a'), " a" } },
            { "character at bytes 74 to 76 moves whole", std::string(73, 'a') + euro + "b", { std::string(73, 'a'), " " + euro + "b" } },
            { "flag is not split", std::string(70, 'a') + flag + "b", { std::string(70, 'a'), " " + flag + "b" } },
            { "second line holds 74 after the space", std::string(75 + 74 + 1, 'a'), { std::string(75, 'a'), " " + std::string(74, 'a'), " a" } },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            EXPECT_EQ(physicalLines(foldLine(testCase.line)), testCase.expected);
        }

        auto photoLine = "PHOTO;ENCODING=b;TYPE=JPEG:" + std::string(10000, 'Q');
        auto folded = physicalLines(foldLine(photoLine));
        std::string unfolded = folded.front();
        for (auto& line : folded) {
            EXPECT_LE(line.size(), 75u);
            if (&line != &folded.front()) {
                EXPECT_EQ(line.front(), ' ');
                unfolded += line.substr(1);
            }
        }
        EXPECT_EQ(folded.front().size(), 75u);
        EXPECT_EQ(unfolded, photoLine);
    }

    TEST(VCard, textIsEscapedBackslashFirst)
    {
        const std::pair<std::string, std::string> cases[] = {
            { "O'Brien", "O'Brien" },
            { "a\\b", "a\\\\b" },
            { "Smith, Jr.; PhD", "Smith\\, Jr.\\; PhD" },
            { "\\,", "\\\\\\," },
            { "one\r\ntwo\nthree", "one\\ntwo\\nthree" },
            { "lone\rcarriage return", "lone\rcarriage return" },
            { "mailto:a@b", "mailto:a@b" },
        };
        for (auto& [value, expected] : cases)
            EXPECT_EQ(escapeText(value), expected) << value;
    }

    TEST(VCard, cardsCarryOnlyTheLinesTheStudentHas)
    {
        Student bare { "Ana", "", "", "", "", {}, std::nullopt };
        EXPECT_EQ(vCardData({ bare }, {}), "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Ana;;;\r\nFN:Ana\r\nORG:Ashgrove University\r\nEND:VCARD\r\n");

        Student full { "Li", "Smith, Jr.; III", "li@ashgrove.edu", "2027", "Computer Science", { "COMP 112-01", "COMP 112L-02" }, "https://x/p.jpg" };
        Student nameless { "", "", "", "", "Undeclared", {}, std::nullopt };
        EXPECT_EQ(vCardData({ nameless, full }, { { 1, "abc" } }),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:\r\nORG:Ashgrove University\r\nNOTE:Undeclared\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith\\, Jr.\\; III;Li;;;\r\nFN:Li Smith\\, Jr.\\; III\r\nORG:Ashgrove University\r\n"
            "EMAIL;TYPE=INTERNET:li@ashgrove.edu\r\nTITLE:COMP 112-01\\, COMP 112L-02\r\nNOTE:Class of 2027\\nComputer Science\r\n"
            "PHOTO;ENCODING=b;TYPE=JPEG:YWJj\r\nEND:VCARD\r\n");
    }

    TEST(VCard, courseTitleNamesUpToThreeCourseCodes)
    {
        auto withSections = [](std::vector<std::vector<std::string>> sectionsPerStudent) {
            std::vector<Student> students;
            for (auto& sections : sectionsPerStudent)
                students.push_back({ "A", "B", "", "", "", sections, std::nullopt });
            return students;
        };
        struct Case {
            std::vector<std::vector<std::string>> sections;
            std::string expected;
        };
        const Case cases[] = {
            { { { "COMP 112-01 Intro to Computing" } }, "COMP 112" },
            { { { "COMP 112-01", "COMP 112L-02" }, { "COMP 112-03" } }, "COMP 112 + COMP 112L" },
            { { { "ECON 110-01" }, { "E&ES 101-01" } }, "E&ES 101 + ECON 110" },
            { { { "A 1", "B 2" }, { "C 3", "D 4" } }, "Course" },
            { { { "intro COMP 112" }, { " COMP 112" }, {} }, "Course" },
            { {}, "Course" },
        };
        for (auto& testCase : cases)
            EXPECT_EQ(courseTitle(withSections(testCase.sections)), testCase.expected);

        EXPECT_EQ(rosterFileName("COMP 112 + COMP 112L"), "COMP 112 + COMP 112L Roster.vcf");
        EXPECT_EQ(rosterFileName("A/B: C"), "A-B- C Roster.vcf");
    }

}
}

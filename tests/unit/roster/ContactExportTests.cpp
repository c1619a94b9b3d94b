#include "roster/ContactExport.h"
#include "roster/CourseTitle.h"
#include "roster/FrameContacts.h"
#include "roster/VCard.h"
#include "session/DownloadsFolder.h"
#include "support/FakePhotoFramer.h"
#include "support/FakeSessionCollaborators.h"
#include "support/LogCapture.h"
#include "support/RunTask.h"
#include "support/TemporaryFolder.h"
#include "support/VirtualRunLoop.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace halcyra {
namespace {

    template <typename T>
    T finished(VirtualRunLoop& loop, Task<T> task)
    {
        return runTask(loop, std::move(task), [&] { EXPECT_TRUE(loop.runPostedWork()); });
    }

    std::string contentsOf(const std::filesystem::path& path)
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream contents;
        contents << file.rdbuf();
        return contents.str();
    }

    class ContactExportTest : public ::testing::Test {
    protected:
        ContactExportTest() { framer.faceBoxes = { { 350, 300, 100, 100 } }; }

        std::vector<Student> students {
            { "Ana", "Lima", "ana@ashgrove.edu", "2026", "", { "COMP 112-01" }, std::nullopt },
            { "Ben", "Ode", "", "", "", {}, std::nullopt },
            { "Cy", "Park", "", "", "", {}, std::nullopt },
        };
        TemporaryFolder temporary;
        const std::filesystem::path& folder { temporary.path() };
        FakePhotoFramer framer;
        VirtualRunLoop loop;
        WorkerPool queue { loop, 1 };
        FakeDownloadAnnouncer announcer;
        LogCapture log;
    };

    // Photos are framed on their faces, each tile has its own id, and every export writes a new file.
    TEST_F(ContactExportTest, photosAreFramedOnTheFaceAndEachExportWritesANewAnnouncedFile)
    {
        LocalDownloadsFolder downloads(folder);
        auto contacts = *finished(loop, frameContacts(students, { { 0, "image:800x600" }, { 1, "image:10x10" } }, framer, queue, nullptr));
        ASSERT_EQ(contacts.size(), 3u);
        EXPECT_DOUBLE_EQ(contacts[0].autoCrop.side, 0.3125);
        EXPECT_EQ(contacts[0].crop, contacts[0].autoCrop);
        EXPECT_EQ(std::set<std::string>({ contacts[0].id, contacts[1].id, contacts[2].id }).size(), 3u);
        EXPECT_TRUE(log.contains("[Roster] framed 2 photos for 3 students"));
        contacts[0].crop.side = 0.5;
        contacts[1].original = "broken"; // cannot be cropped at export: the card goes without photo
        ContactExportServices services { framer, queue, downloads, announcer };

        auto first = finished(loop, exportContacts(contacts, "COMP 112: Lab/Lecture", services));
        auto second = finished(loop, exportContacts(contacts, "COMP 112: Lab/Lecture", services));

        EXPECT_EQ(first.failure, "");
        EXPECT_EQ(first.file, folder / "COMP 112- Lab-Lecture Roster.vcf");
        EXPECT_EQ(second.file, folder / "COMP 112- Lab-Lecture Roster (1).vcf");
        EXPECT_EQ(announcer.announcedPaths, (std::vector { std::filesystem::canonical(*first.file), std::filesystem::canonical(*second.file) }));
        EXPECT_EQ(contentsOf(*first.file), vCardData(students, { { 0, "jpeg(image:800x600 0.500000)" } }));
        EXPECT_EQ(log.count("[Roster] exported 3 contacts, 1 with photos"), 2);
        for (auto& entry : std::filesystem::directory_iterator(folder))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "temporary file left: " << entry.path();
    }

    // Running out of memory on one photo, while framing or at export, costs that photo only.
    TEST_F(ContactExportTest, aPhotoWhoseWorkFailsIsLeftOutAndTheOthersGoOn)
    {
        LocalDownloadsFolder downloads(folder);
        auto contacts = *finished(loop, frameContacts(students, { { 0, "image:800x600" }, { 1, "out of memory" }, { 2, "image:80x60" } }, framer, queue, nullptr));
        ASSERT_EQ(contacts.size(), 3u);
        EXPECT_FALSE(contacts[1].original);
        EXPECT_TRUE(contacts[2].original);
        contacts[0].original = "out of memory";
        auto result = finished(loop, exportContacts(contacts, "Course", { framer, queue, downloads, announcer }));
        ASSERT_TRUE(result.file) << result.failure;
        EXPECT_EQ(contentsOf(*result.file), vCardData(students, { { 2, "jpeg(image:80x60 " + std::to_string(contacts[2].crop.side) + ")" } }));
        EXPECT_EQ(log.count("[Roster] photo left out: std::bad_alloc"), 2);
    }

    TEST_F(ContactExportTest, exportFailsWithoutAFolderOrAFreeNameAndLeavesNothing)
    {
        auto contacts = *finished(loop, frameContacts(students, {}, framer, queue, nullptr));
        LocalDownloadsFolder none(std::nullopt);
        auto withoutFolder = finished(loop, exportContacts(contacts, "Course", { framer, queue, none, announcer }));
        EXPECT_EQ(withoutFolder.failure, "The Downloads folder couldn't be found.");

        // A folder that has the name and all 10,000 numbered copies says so.
        struct FullFolder final : DownloadsFolder {
            std::optional<std::filesystem::path> location() const override { return "/home/demo/Downloads"; }
            bool fileExists(const std::filesystem::path&) const override { return true; }
        } full;
        auto withoutName = finished(loop, exportContacts(contacts, "Course", { framer, queue, full, announcer }));
        EXPECT_EQ(withoutName.failure, "The Downloads folder has no free name for the roster file. Move or delete earlier roster files and try again.");

        LocalDownloadsFolder missing(folder / "gone");
        auto unwritable = finished(loop, exportContacts(contacts, "Course", { framer, queue, missing, announcer }));
        EXPECT_FALSE(unwritable.file);
        EXPECT_NE(unwritable.failure.find(folder / "gone"), std::string::npos) << unwritable.failure;

        EXPECT_TRUE(announcer.announcedPaths.empty());
        EXPECT_FALSE(std::filesystem::exists(folder / "gone"));
    }

    TEST_F(ContactExportTest, newFileNeverReplacesOneThatAppearedMeanwhile)
    {
        std::ofstream(folder / "taken.vcf") << "theirs";
        EXPECT_NE(writeNewFile(folder / "taken.vcf", "ours"), "");
        EXPECT_EQ(contentsOf(folder / "taken.vcf"), "theirs");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    }

    // The roster holds students' names and addresses: a user's umask decides who else may read it.
    TEST_F(ContactExportTest, newFileHonoursTheUmask)
    {
        for (auto [mask, mode] : { std::pair { 077, 0600 }, { 027, 0640 }, { 002, 0664 } }) {
            auto previous = umask(mask);
            auto file = folder / ("roster-" + std::to_string(mask) + ".vcf");
            EXPECT_EQ(writeNewFile(file, "BEGIN:VCARD"), "");
            umask(previous);
            struct stat status { };
            ASSERT_EQ(stat(file.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, unsigned(mode)) << std::oct << mask;
        }
    }

    TEST(VCard, rosterFileNameFitsInAFileNameAndIsCutBetweenCharacters)
    {
        EXPECT_EQ(rosterFileName("AB " + std::string(50000, '7')), "AB " + std::string(197, '7') + " Roster.vcf");
        std::string euros;
        for (int i = 0; i < 100; ++i)
            euros += "\u20ac";
        EXPECT_EQ(rosterFileName(euros), euros.substr(0, 66 * 3) + " Roster.vcf");
    }

    TEST(VCard, linesFoldAt75BytesWithoutCuttingACharacter)
    {
        const std::string euro = "\u20ac"; // three bytes
        const std::string flag = "\U0001F1E8\U0001F1E6"; // two code points, one character
        const std::string fold = "\r\n ";
        struct Case {
            const char* name;
            std::string line;
            std::string expected;
        };
        const Case cases[] = {
            { "75 bytes stay", std::string(75, 'a'), std::string(75, 'a') },
            { "76 bytes fold", std::string(76, 'a'), std::string(75, 'a') + fold + "a" },
            { "character at bytes 74 to 76 moves whole", std::string(73, 'a') + euro + "b", std::string(73, 'a') + fold + euro + "b" },
            { "flag is not split", std::string(70, 'a') + flag + "b", std::string(70, 'a') + fold + flag + "b" },
            { "second line holds 74 after the space", std::string(75 + 74 + 1, 'a'), std::string(75, 'a') + fold + std::string(74, 'a') + fold + "a" },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            EXPECT_EQ(foldLine(testCase.line), testCase.expected);
        }
    }

    TEST(VCard, textIsEscapedBackslashFirst)
    {
        const std::pair<std::string, std::string> cases[] = {
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
        const std::pair<std::vector<std::vector<std::string>>, std::string> cases[] = {
            { { { "COMP 112-01 Intro to Computing" } }, "COMP 112" },
            { { { "COMP 112-01", "COMP 112L-02" }, { "COMP 112-03" } }, "COMP 112 + COMP 112L" },
            { { { "ECON 110-01" }, { "E&ES 101-01" } }, "E&ES 101 + ECON 110" },
            { { { "A 1", "B 2" }, { "C 3", "D 4" } }, "Course" },
            { { { "intro COMP 112" }, { " COMP 112" }, {} }, "Course" },
            // Table cells separate code and number with a no-break space.
            { { { "COMP\u00a0112-01" }, { "MATH\u3000201" } }, "COMP\u00a0112 + MATH\u3000201" },
            // A section of any length is read in one pass, not by recursion per character.
            { { { "AB " + std::string(50000, '7') } }, "AB " + std::string(50000, '7') },
        };
        for (auto& [sections, expected] : cases)
            EXPECT_EQ(courseTitle(withSections(sections)), expected);
    }

}
}

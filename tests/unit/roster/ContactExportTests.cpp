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
#include <sys/stat.h>

namespace halcyra {
namespace {

    template <typename T>
    T finished(VirtualRunLoop& loop, Task<T> task)
    {
        return runTask(loop, std::move(task), [&] { EXPECT_TRUE(loop.runPostedWork()); });
    }

    class ContactExportTest : public ::testing::Test {
    protected:
        ContactExportTest() { framer.faceBoxes = { { 350, 300, 100, 100 } }; }

        std::vector<Student> students {
            { "Ana", "Lima", "ana@ashgrove.edu", "2026", "", { "COMP 112-01" }, std::nullopt },
            { "Ben", "Ode", "", "", "", {}, std::nullopt },
            { "Cy", "Park", "", "", "", {}, std::nullopt },
            { "Dee", "Roy", "", "", "", {}, std::nullopt },
        };
        TemporaryFolder temporary;
        const std::filesystem::path& folder { temporary.path() };
        FakePhotoFramer framer;
        VirtualRunLoop loop;
        WorkerPool queue { loop, 1 };
        FakeDownloadAnnouncer announcer;
        LogCapture log;
    };

    // Photos are framed on their faces and each tile has its own id; every export writes a new,
    // announced file. Running out of memory on one photo, while framing or at export, or a
    // photo that cannot be cropped, costs that photo only.
    TEST_F(ContactExportTest, photosAreFramedOnTheFaceAndEachExportWritesANewAnnouncedFileWithoutTheFailedPhotos)
    {
        LocalDownloadsFolder downloads(folder);
        auto contacts = *finished(loop, frameContacts(students, { { 0, "image:800x600" }, { 1, "out of memory" }, { 2, "image:80x60" }, { 3, "image:10x10" } }, framer, queue, nullptr));
        ASSERT_EQ(contacts.size(), 4u);
        EXPECT_DOUBLE_EQ(contacts[0].autoCrop.side, 0.3125);
        EXPECT_EQ(contacts[0].crop, contacts[0].autoCrop);
        EXPECT_FALSE(contacts[1].original);
        EXPECT_TRUE(contacts[2].display && contacts[3].display) << "the photos after it are framed";
        EXPECT_EQ(std::set<std::string>({ contacts[0].id, contacts[1].id, contacts[2].id, contacts[3].id }).size(), 4u);
        EXPECT_TRUE(log.contains("[Roster] framed 4 photos for 4 students"));
        contacts[0].original = "out of memory";
        contacts[2].crop.side = 0.5;
        contacts[3].original = "broken";
        ContactExportServices services { framer, queue, downloads, announcer };

        auto first = finished(loop, exportContacts(contacts, "COMP 112: Lab/Lecture", services));
        auto second = finished(loop, exportContacts(contacts, "COMP 112: Lab/Lecture", services));

        EXPECT_EQ(first.failure, "");
        EXPECT_EQ(first.file, folder / "COMP 112- Lab-Lecture Roster.vcf");
        EXPECT_EQ(second.file, folder / "COMP 112- Lab-Lecture Roster (1).vcf");
        EXPECT_EQ(announcer.announcedPaths, (std::vector { std::filesystem::canonical(*first.file), std::filesystem::canonical(*second.file) }));
        EXPECT_EQ(contentsOf(*first.file), vCardData(students, { { 2, "jpeg(image:80x60 0.500000)" } }));
        EXPECT_EQ(log.count("[Roster] exported 4 contacts, 1 with photos"), 2);
        EXPECT_EQ(log.count("[Roster] photo left out: std::bad_alloc"), 3);
        for (auto& entry : std::filesystem::directory_iterator(folder))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "temporary file left: " << entry.path();
    }

    TEST_F(ContactExportTest, exportFailsWithoutAFolderOrAFreeNameAndLeavesNothing)
    {
        auto contacts = *finished(loop, frameContacts(students, {}, framer, queue, nullptr));
        LocalDownloadsFolder none(std::nullopt);
        auto withoutFolder = finished(loop, exportContacts(contacts, "Course", { framer, queue, none, announcer }));
        EXPECT_EQ(withoutFolder.failure, "The Downloads folder couldn't be found.");

        // A folder that has the name and all 10,000 numbered copies says so.
        FullDownloadsFolder full;
        auto withoutName = finished(loop, exportContacts(contacts, "Course", { framer, queue, full, announcer }));
        EXPECT_EQ(withoutName.failure, "The Downloads folder has no free name for the roster file. Move or delete earlier roster files and try again.");

        LocalDownloadsFolder missing(folder / "gone");
        auto unwritable = finished(loop, exportContacts(contacts, "Course", { framer, queue, missing, announcer }));
        EXPECT_FALSE(unwritable.file);
        EXPECT_NE(unwritable.failure.find(folder / "gone"), std::string::npos) << unwritable.failure;

        EXPECT_TRUE(announcer.announcedPaths.empty());
        EXPECT_FALSE(std::filesystem::exists(folder / "gone"));
    }

    // A file that appeared meanwhile is never replaced, and the user's umask decides who else may
    // read the roster, which holds students' names and addresses.
    TEST_F(ContactExportTest, newFileNeverReplacesAnotherAndHonoursTheUmask)
    {
        std::ofstream(folder / "taken.vcf") << "theirs";
        EXPECT_NE(writeNewFile(folder / "taken.vcf", "ours"), "");
        EXPECT_EQ(contentsOf(folder / "taken.vcf"), "theirs");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "nothing left behind";
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

    // The texts of the file: its name fits in a file name, cut between characters; the course
    // title names up to three course codes; lines fold at 75 bytes, never inside a character;
    // text is escaped backslash first; a card carries only the lines the student has.
    TEST(VCard, fileNameTitleLinesAndCardsKeepEveryCharacterWhole)
    {
        auto title = [](std::vector<std::vector<std::string>> sectionsPerStudent) {
            std::vector<Student> students;
            for (auto& sections : sectionsPerStudent)
                students.push_back({ "A", "B", "", "", "", sections, std::nullopt });
            return courseTitle(students);
        };
        const std::string euro = "\u20ac"; // three bytes
        const std::string flag = "\U0001F1E8\U0001F1E6"; // two code points, one character
        const std::string fold = "\r\n ", a75(75, 'a'), longCode = "AB " + std::string(50000, '7');
        std::string euros;
        for (int i = 0; i < 100; ++i)
            euros += euro;
        Student full { "Li", "Smith, Jr.; III", "li@ashgrove.edu", "2027", "Computer Science", { "COMP 112-01", "COMP 112L-02" }, "https://x/p.jpg" };
        Student nameless { "", "", "", "", "Undeclared", {}, std::nullopt };
        const std::tuple<const char*, std::string, std::string> cases[] = {
            { "long course code", rosterFileName(longCode), "AB " + std::string(197, '7') + " Roster.vcf" },
            { "name cut between characters", rosterFileName(euros), euros.substr(0, 66 * 3) + " Roster.vcf" },
            { "one course", title({ { "COMP 112-01 Intro to Computing" } }), "COMP 112" },
            { "courses sorted once each", title({ { "COMP 112-01", "COMP 112L-02" }, { "COMP 112-03" } }), "COMP 112 + COMP 112L" },
            { "by code", title({ { "ECON 110-01" }, { "E&ES 101-01" } }), "E&ES 101 + ECON 110" },
            { "four courses", title({ { "A 1", "B 2" }, { "C 3", "D 4" } }), "Course" },
            { "no code at the start", title({ { "intro COMP 112" }, { " COMP 112" }, {} }), "Course" },
            // Table cells separate code and number with a no-break space.
            { "wide spaces", title({ { "COMP\u00a0112-01" }, { "MATH\u3000201" } }), "COMP\u00a0112 + MATH\u3000201" },
            // A section of any length is read in one pass, not by recursion per character.
            { "long section", title({ { longCode } }), longCode },
            { "75 bytes stay", foldLine(a75), a75 },
            { "character at bytes 74 to 76 moves whole", foldLine(std::string(73, 'a') + euro + "b"), std::string(73, 'a') + fold + euro + "b" },
            { "flag is not split", foldLine(std::string(70, 'a') + flag + "b"), std::string(70, 'a') + fold + flag + "b" },
            { "second line holds 74 after the space", foldLine(std::string(75 + 74 + 1, 'a')), a75 + fold + std::string(74, 'a') + fold + "a" },
            { "backslash first", escapeText("\\,"), "\\\\\\," },
            { "line ends", escapeText("one\r\ntwo\nthree"), "one\\ntwo\\nthree" },
            { "lone carriage return", escapeText("lone\rreturn"), "lone\rreturn" },
            { "colon", escapeText("mailto:a@b"), "mailto:a@b" },
            { "bare card", vCardData({ { "Ana", "", "", "", "", {}, std::nullopt } }, {}), "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Ana;;;\r\nFN:Ana\r\nORG:Ashgrove University\r\nEND:VCARD\r\n" },
            { "nameless and full cards", vCardData({ nameless, full }, { { 1, "abc" } }),
                "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:\r\nORG:Ashgrove University\r\nNOTE:Undeclared\r\nEND:VCARD\r\n"
                "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith\\, Jr.\\; III;Li;;;\r\nFN:Li Smith\\, Jr.\\; III\r\nORG:Ashgrove University\r\n"
                "EMAIL;TYPE=INTERNET:li@ashgrove.edu\r\nTITLE:COMP 112-01\\, COMP 112L-02\r\nNOTE:Class of 2027\\nComputer Science\r\n"
                "PHOTO;ENCODING=b;TYPE=JPEG:YWJj\r\nEND:VCARD\r\n" },
        };
        for (auto& [name, actual, expected] : cases)
            EXPECT_EQ(actual, expected) << name;
    }

}
}

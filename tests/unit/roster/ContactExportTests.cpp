#include "roster/ContactExport.h"
#include "roster/FrameContacts.h"
#include "roster/VCard.h"
#include "session/DownloadAnnouncer.h"
#include "session/DownloadsFolder.h"
#include "support/LogCapture.h"
#include "support/RunTask.h"
#include "support/VirtualRunLoop.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <set>
#include <sstream>

namespace halcyra {
namespace {

    // Decodes "image:WxH" and renders "jpeg(<bytes> side)"; anything else is no image.
    class FakePhotoFramer final : public PhotoFramer {
    public:
        std::optional<DisplayImage> displayImage(std::string_view bytes, std::optional<int> maximum) override
        {
            int width, height;
            if (std::sscanf(std::string(bytes).c_str(), "image:%dx%d", &width, &height) != 2)
                return std::nullopt;
            maximumsAsked.push_back(maximum.value_or(0));
            return DisplayImage { width, height, {} };
        }
        std::vector<PixelBox> faces(const DisplayImage&) override { return { { 350, 300, 100, 100 } }; }
        std::vector<PixelBox> upperBodies(const DisplayImage&) override { return {}; }
        std::optional<std::string> cropJPEG(std::string_view bytes, const CropRect& rect) override
        {
            if (!bytes.starts_with("image:"))
                return std::nullopt;
            return "jpeg(" + std::string(bytes) + " " + std::to_string(rect.side) + ")";
        }
        std::vector<int> maximumsAsked;
    };

    class RecordingAnnouncer final : public DownloadAnnouncer {
    public:
        void announceFinishedDownload(const std::filesystem::path& path) override { announced.push_back(path); }
        std::vector<std::filesystem::path> announced;
    };

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
        ContactExportTest()
        {
            folder = std::filesystem::temp_directory_path() / ("halcyra-roster-" + std::to_string(std::random_device {}()));
            std::filesystem::create_directories(folder);
        }
        ~ContactExportTest() { std::filesystem::remove_all(folder); }

        std::vector<Student> students {
            { "Ana", "Lima", "ana@ashgrove.edu", "2026", "", { "COMP 112-01" }, std::nullopt },
            { "Ben", "Ode", "", "", "", {}, std::nullopt },
            { "Cy", "Park", "", "", "", {}, std::nullopt },
        };
        std::filesystem::path folder;
        FakePhotoFramer framer;
        VirtualRunLoop loop;
        WorkerPool queue { loop, 1 };
        RecordingAnnouncer announcer;
        LogCapture log;
    };

    TEST_F(ContactExportTest, photosAreFramedInOrderAndUndecodableOnesDropped)
    {
        std::vector<std::string> progress;
        auto contacts = *finished(loop, frameContacts(students, { { 0, "image:800x600" }, { 2, "not an image" } }, framer, queue, [&](auto& text) { progress.push_back(text); }));

        EXPECT_EQ(progress, (std::vector<std::string> { "Finding faces (1 of 2)\u2026", "Finding faces (2 of 2)\u2026" }));
        EXPECT_EQ(framer.maximumsAsked, std::vector<int> { 800 });
        ASSERT_EQ(contacts.size(), 3u);
        EXPECT_EQ(contacts[0].original, "image:800x600");
        ASSERT_TRUE(contacts[0].display);
        EXPECT_EQ(contacts[0].display->width, 800);
        EXPECT_DOUBLE_EQ(contacts[0].autoCrop.side, 0.3125);
        EXPECT_EQ(contacts[0].crop, contacts[0].autoCrop);
        for (auto i : { 1, 2 }) {
            EXPECT_FALSE(contacts[i].original);
            EXPECT_FALSE(contacts[i].display);
            EXPECT_EQ(contacts[i].crop, defaultCrop);
        }
        EXPECT_EQ(contacts[1].student, students[1]);
        std::set<std::string> ids;
        std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
        for (auto& contact : contacts) {
            EXPECT_TRUE(std::regex_match(contact.id, uuid)) << contact.id;
            ids.insert(contact.id);
        }
        EXPECT_EQ(ids.size(), 3u);
        EXPECT_TRUE(log.contains("[Roster] framed 2 photos for 3 students"));
    }

    TEST_F(ContactExportTest, exportWritesANewFileEachTimeAndAnnouncesIt)
    {
        LocalDownloadsFolder downloads(folder);
        auto contacts = *finished(loop, frameContacts(students, { { 0, "image:800x600" }, { 1, "image:10x10" } }, framer, queue, nullptr));
        contacts[0].crop.side = 0.5;
        contacts[1].original = "broken"; // cannot be cropped at export: the card goes without photo
        ContactExportServices services { framer, queue, downloads, announcer };

        auto first = finished(loop, exportContacts(contacts, "COMP 112: Lab/Lecture", services));
        auto second = finished(loop, exportContacts(contacts, "COMP 112: Lab/Lecture", services));

        EXPECT_EQ(first.failure, "");
        EXPECT_EQ(first.file, folder / "COMP 112- Lab-Lecture Roster.vcf");
        EXPECT_EQ(second.file, folder / "COMP 112- Lab-Lecture Roster (1).vcf");
        EXPECT_EQ(announcer.announced, (std::vector { std::filesystem::canonical(*first.file), std::filesystem::canonical(*second.file) }));
        EXPECT_EQ(contentsOf(*first.file), vCardData(students, { { 0, "jpeg(image:800x600 0.500000)" } }));
        EXPECT_EQ(log.count("[Roster] exported 3 contacts, 1 with photos"), 2);
        for (auto& entry : std::filesystem::directory_iterator(folder))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "temporary file left: " << entry.path();
    }

    TEST_F(ContactExportTest, exportFailsWithoutAFolderAndLeavesNothing)
    {
        auto contacts = *finished(loop, frameContacts(students, {}, framer, queue, nullptr));
        LocalDownloadsFolder none(std::nullopt);
        auto withoutFolder = finished(loop, exportContacts(contacts, "Course", { framer, queue, none, announcer }));
        EXPECT_EQ(withoutFolder.failure, "The Downloads folder couldn't be found.");

        LocalDownloadsFolder missing(folder / "gone");
        auto unwritable = finished(loop, exportContacts(contacts, "Course", { framer, queue, missing, announcer }));
        EXPECT_FALSE(unwritable.file);
        EXPECT_NE(unwritable.failure.find(folder / "gone"), std::string::npos) << unwritable.failure;

        EXPECT_TRUE(announcer.announced.empty());
        EXPECT_FALSE(log.containsSubstring("[Roster] exported"));
        EXPECT_FALSE(std::filesystem::exists(folder / "gone"));
    }

    TEST_F(ContactExportTest, newFileNeverReplacesOneThatAppearedMeanwhile)
    {
        std::ofstream(folder / "taken.vcf") << "theirs";
        EXPECT_NE(writeNewFile(folder / "taken.vcf", "ours"), "");
        EXPECT_EQ(contentsOf(folder / "taken.vcf"), "theirs");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    }

}
}

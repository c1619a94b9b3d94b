#include "session/DownloadDestination.h"
#include "support/LogCapture.h"
#include "support/SessionHarness.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    TEST(DownloadDestination, takenNamesGetTheFirstFreeCounterAndDirectoryPartsAndHostileNamesAreDropped)
    {
        auto repeated = [](const std::string& text, int count) {
            std::string result;
            while (count-- > 0)
                result += text;
            return result;
        };
        const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
            { { "report.xlsx", "report (1).xlsx" }, "report.xlsx", "report (2).xlsx" },
            { { "README" }, "README", "README (1)" },
            { { "archive.tar.gz" }, "archive.tar.gz", "archive.tar (1).gz" },
            { {}, "a/b/c.pdf", "c.pdf" },
            { {}, "", "Download" },
            { {}, "..", "Download" },
            { {}, "reports/", "reports" },
            { {}, std::string(300, 'a') + ".pdf", std::string(236, 'a') + ".pdf" },
            // Too long for a file system: shortened between characters, keeping the extension.
            { {}, "a" + repeated("\u00e9", 150), "a" + repeated("\u00e9", 119) },
        };
        for (const auto& [taken, suggested, expected] : cases) {
            TemporaryFolder downloads;
            for (const auto& name : taken)
                downloads.write(name);
            EXPECT_EQ(uniqueDownloadDestination(LocalDownloadsFolder(downloads.path()), suggested), downloads.path() / expected) << suggested;
        }

        TemporaryFolder downloads;
        std::filesystem::create_symlink("/nonexistent/target", downloads.path() / "report.pdf");
        EXPECT_EQ(uniqueDownloadDestination(LocalDownloadsFolder(downloads.path()), "report.pdf"), downloads.path() / "report (1).pdf")
            << "a dangling link is a taken name";

        // Hostile names never leave the Downloads folder.
        LocalDownloadsFolder folder(downloads.path());
        for (const auto& name : { std::string("."), std::string("../../.bashrc"), std::string("..\\..\\evil.exe"), std::string("a/.."),
                 std::string("evil\0/../../x", 13), std::string("..\0", 3) }) {
            auto path = uniqueDownloadDestination(folder, name);
            ASSERT_TRUE(path);
            EXPECT_EQ(path->parent_path(), downloads.path()) << "for a suggested name of " << name.size() << " bytes";
            auto fileName = path->filename().string();
            EXPECT_TRUE(fileName != ".." && fileName != "." && fileName.find('\0') == std::string::npos) << fileName;
        }
    }

    // Where downloads go without a save dialog: the desktop's folder when it names one, else
    // ~/Downloads, made when missing, as browsers do.
    TEST(UserDownloadsFolder, desktopFolderWhenNamedElseDownloadsInHomeMadeWhenMissing)
    {
        TemporaryFolder home;
        std::filesystem::create_directory(home.path() / "Téléchargements");
        const std::tuple<const char*, std::optional<std::filesystem::path>, std::optional<std::filesystem::path>> cases[] = {
            { "named by the desktop", home.path() / "Téléchargements", home.path() / "Téléchargements" },
            { "named but missing", home.path() / "Files/Incoming", home.path() / "Files/Incoming" },
            { "none named", std::nullopt, home.path() / "Downloads" },
            { "turned off (the home folder)", home.path() / ".", home.path() / "Downloads" },
            { "not a folder", home.write("file"), std::nullopt },
        };
        for (const auto& [name, desktopFolder, expected] : cases) {
            SCOPED_TRACE(name);
            std::filesystem::remove_all(home.path() / "Downloads");
            UserDownloadsFolder folder(desktopFolder, home.path());
            EXPECT_EQ(folder.location(), expected);
            EXPECT_TRUE(!expected || std::filesystem::is_directory(*expected));
        }
        EXPECT_FALSE(UserDownloadsFolder(std::nullopt, home.path() / "file").location()) << "~/Downloads cannot be made";
    }

    class DownloadControllerTest : public ::testing::Test {
    protected:
        TemporaryFolder downloads;
        LocalDownloadsFolder folder { downloads.path() };
        FakeDownloadAnnouncer announcer;
        DownloadController controller { folder, announcer };
        LogCapture log;
    };

    // The engine's test sees attachments and inline documents; the header's case is free.
    TEST_F(DownloadControllerTest, anAttachmentIsRecognisedInAnyCase)
    {
        NavigationResponse response;
        response.httpStatus = 200;
        response.headers["content-disposition"] = "ATTACHMENT";
        EXPECT_EQ(controller.responsePolicy(response), NavigationResponsePolicy::download);
    }

    TEST_F(DownloadControllerTest, finishedDownloadsAreAnnouncedOnceWithTheirResolvedPathsAndFailedOnesNever)
    {
        auto linked = downloads.path() / "linked";
        std::filesystem::create_directory(downloads.path() / "real");
        std::filesystem::create_directory_symlink(downloads.path() / "real", linked);
        LocalDownloadsFolder linkedFolder(linked);
        DownloadController linkedController(linkedFolder, announcer);

        FakeDownload budget, failed;
        auto destination = linkedController.decideDestination(budget, "budget.xlsx");
        ASSERT_EQ(destination, linked / "budget.xlsx");
        EXPECT_TRUE(log.contains("[Workday] download started: " + (linked / "budget.xlsx").string()));
        std::ofstream(*destination) << "data";
        linkedController.decideDestination(failed, "failed.pdf");

        linkedController.downloadDidFail(failed, { "NSURLErrorDomain", -1005, std::nullopt });
        linkedController.downloadDidFinish(failed);
        linkedController.downloadDidFinish(budget);
        linkedController.downloadDidFinish(budget);
        auto real = std::filesystem::canonical(downloads.path()) / "real";
        EXPECT_EQ(announcer.announcedPaths, std::vector<std::filesystem::path> { real / "budget.xlsx" });
        EXPECT_TRUE(log.contains("[Workday] download finished: " + (linked / "budget.xlsx").string()));
        EXPECT_TRUE(log.contains("[Workday] download failed: NSURLErrorDomain (-1005)"));
    }

    TEST_F(DownloadControllerTest, withoutADestinationTheDownloadIsCancelledAndTheLogSaysWhy)
    {
        LocalDownloadsFolder noFolder(std::nullopt);
        FullDownloadsFolder fullFolder;
        const std::pair<DownloadsFolder*, std::string> cases[] = {
            { &noFolder, "[Workday] download started: no Downloads folder" },
            { &fullFolder, "[Workday] download started: no free name for a.pdf in /home/demo/Downloads" },
        };
        for (const auto& [folder, logLine] : cases) {
            DownloadController controller(*folder, announcer);
            FakeDownload download;
            EXPECT_FALSE(controller.decideDestination(download, "dir/a.pdf"));
            EXPECT_TRUE(log.contains(logLine)) << logLine;
        }
    }

}
}

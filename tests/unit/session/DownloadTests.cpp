#include "session/DownloadDestination.h"
#include "support/LogCapture.h"
#include "support/SessionHarness.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace halcyra {
namespace {

    // A fresh folder under the system's temporary directory, removed afterwards.
    class TemporaryFolder {
    public:
        TemporaryFolder()
        {
            std::random_device random;
            m_path = std::filesystem::temp_directory_path() / ("halcyra-downloads-" + std::to_string(random()));
            std::filesystem::create_directories(m_path);
        }
        ~TemporaryFolder()
        {
            std::error_code error;
            std::filesystem::remove_all(m_path, error);
        }
        const std::filesystem::path& path() const { return m_path; }
        void touch(const std::string& name) const { std::ofstream(m_path / name) << "x"; }

    private:
        std::filesystem::path m_path;
    };

    class DownloadNameTest : public ::testing::Test {
    protected:
        std::filesystem::path destination(std::string_view suggestedName)
        {
            auto result = uniqueDownloadDestination(folder, suggestedName);
            EXPECT_TRUE(result);
            return result.value_or("");
        }

        TemporaryFolder downloads;
        LocalDownloadsFolder folder { downloads.path() };
    };

    TEST_F(DownloadNameTest, takenNamesGetTheFirstFreeCounter)
    {
        EXPECT_EQ(destination("report.xlsx"), downloads.path() / "report.xlsx");
        downloads.touch("report.xlsx");
        downloads.touch("report (1).xlsx");
        EXPECT_EQ(destination("report.xlsx"), downloads.path() / "report (2).xlsx");

        downloads.touch("README");
        EXPECT_EQ(destination("README"), downloads.path() / "README (1)");

        downloads.touch("archive.tar.gz");
        EXPECT_EQ(destination("archive.tar.gz"), downloads.path() / "archive.tar (1).gz");
    }

    TEST_F(DownloadNameTest, directoryPartsAreDroppedAndEmptyNamesBecomeDownload)
    {
        EXPECT_EQ(destination("a/b/c.pdf"), downloads.path() / "c.pdf");
        EXPECT_EQ(destination(""), downloads.path() / "Download");
        EXPECT_EQ(destination("/"), downloads.path() / "Download");
        EXPECT_EQ(destination("reports/"), downloads.path() / "reports");
    }

    TEST_F(DownloadNameTest, hostileNamesNeverLeaveTheDownloadsFolder)
    {
        const std::vector<std::string> hostile {
            "..",
            ".",
            "../../.bashrc",
            "/etc/passwd",
            "..\\..\\evil.exe",
            "a/..",
            "///",
            std::string("evil\0/../../x", 13),
            std::string("..\0", 3),
            std::string("\0", 1),
        };
        for (auto& name : hostile) {
            auto path = destination(name);
            EXPECT_EQ(path.parent_path(), downloads.path()) << "for a suggested name of " << name.size() << " bytes";
            auto fileName = path.filename().string();
            EXPECT_NE(fileName, "..");
            EXPECT_NE(fileName, ".");
            EXPECT_EQ(fileName.find('\0'), std::string::npos);
        }
        EXPECT_EQ(destination(".."), downloads.path() / "Download");
    }

    TEST_F(DownloadNameTest, danglingSymbolicLinkCountsAsTaken)
    {
        std::filesystem::create_symlink("/nonexistent/target", downloads.path() / "report.pdf");
        EXPECT_EQ(destination("report.pdf"), downloads.path() / "report (1).pdf");
    }

    TEST(DownloadNameWithoutFolder, givesNothing)
    {
        LocalDownloadsFolder noFolder(std::nullopt);
        EXPECT_FALSE(uniqueDownloadDestination(noFolder, "report.pdf"));
    }

    class DownloadControllerTest : public ::testing::Test {
    protected:
        NavigationResponse response(std::map<std::string, std::string> headers, bool canShowMIMEType = true)
        {
            NavigationResponse response;
            response.httpStatus = 200;
            response.url = url("https://wd5.myworkday.test/ashgrove/d/reports/summary.pdf");
            response.headers = std::move(headers);
            response.canShowMIMEType = canShowMIMEType;
            return response;
        }

        TemporaryFolder downloads;
        LocalDownloadsFolder folder { downloads.path() };
        FakeDownloadAnnouncer announcer;
        DownloadController controller { folder, announcer };
        LogCapture log;
    };

    TEST_F(DownloadControllerTest, attachmentsAndUnshowableTypesAreDownloaded)
    {
        EXPECT_EQ(controller.responsePolicy(response({})), NavigationResponsePolicy::allow);
        EXPECT_EQ(controller.responsePolicy(response({ { "content-disposition", "inline; filename=\"summary.pdf\"" } })), NavigationResponsePolicy::allow);
        EXPECT_EQ(controller.responsePolicy(response({ { "content-disposition", "attachment; filename=\"summary.pdf\"" } })), NavigationResponsePolicy::download);
        EXPECT_EQ(controller.responsePolicy(response({ { "content-disposition", "ATTACHMENT" } })), NavigationResponsePolicy::download);
        EXPECT_EQ(controller.responsePolicy(response({}, false)), NavigationResponsePolicy::download);
    }

    TEST_F(DownloadControllerTest, finishedDownloadIsAnnouncedWithItsResolvedPathOnce)
    {
        auto linked = downloads.path() / "linked";
        std::filesystem::create_directory(downloads.path() / "real");
        std::filesystem::create_directory_symlink(downloads.path() / "real", linked);
        LocalDownloadsFolder linkedFolder(linked);
        DownloadController linkedController(linkedFolder, announcer);

        FakeDownload download(url("https://wd5.myworkday.test/ashgrove/d/reports/budget.xlsx"));
        auto destination = linkedController.decideDestination(download, "budget.xlsx");
        ASSERT_EQ(destination, linked / "budget.xlsx");
        EXPECT_TRUE(log.contains("[Workday] download started: " + (linked / "budget.xlsx").string()));
        std::ofstream(*destination) << "data";

        linkedController.downloadDidFinish(download);
        linkedController.downloadDidFinish(download);
        EXPECT_EQ(announcer.announcedPaths, std::vector<std::filesystem::path> { std::filesystem::canonical(downloads.path()) / "real" / "budget.xlsx" });
        EXPECT_TRUE(log.contains("[Workday] download finished: " + (linked / "budget.xlsx").string()));
        EXPECT_EQ(linkedController.activeDownloadCount(), 0u);
    }

    TEST_F(DownloadControllerTest, failedDownloadIsLoggedAndNeverAnnounced)
    {
        FakeDownload download(std::nullopt);
        controller.decideDestination(download, "summary.pdf");
        controller.downloadDidFail(download, { "NSURLErrorDomain", -1005, std::nullopt });
        controller.downloadDidFinish(download);
        EXPECT_TRUE(log.contains("[Workday] download failed: NSURLErrorDomain (-1005)"));
        EXPECT_TRUE(announcer.announcedPaths.empty());
    }

    TEST_F(DownloadControllerTest, concurrentDownloadsKeepTheirOwnDestinations)
    {
        FakeDownload first(std::nullopt), second(std::nullopt);
        controller.decideDestination(first, "a.pdf");
        controller.decideDestination(second, "b.pdf");
        controller.downloadDidFinish(second);
        controller.downloadDidFinish(first);
        ASSERT_EQ(announcer.announcedPaths.size(), 2u);
        EXPECT_EQ(announcer.announcedPaths[0].filename(), "b.pdf");
        EXPECT_EQ(announcer.announcedPaths[1].filename(), "a.pdf");
    }

    // A folder in which every name is taken.
    class FullDownloadsFolder final : public DownloadsFolder {
    public:
        std::optional<std::filesystem::path> location() const override { return "/home/demo/Downloads"; }
        bool fileExists(const std::filesystem::path&) const override { return true; }
    };

    TEST(DownloadControllerWithoutDestination, cancelsTheDownloadAndSaysWhy)
    {
        LocalDownloadsFolder noFolder(std::nullopt);
        FullDownloadsFolder fullFolder;
        const std::pair<DownloadsFolder*, std::string> cases[] = {
            { &noFolder, "[Workday] download started: no Downloads folder" },
            { &fullFolder, "[Workday] download started: no free name for a.pdf in /home/demo/Downloads" },
        };
        for (const auto& [folder, logLine] : cases) {
            LogCapture log;
            FakeDownloadAnnouncer announcer;
            DownloadController controller(*folder, announcer);
            FakeDownload download(std::nullopt);
            EXPECT_FALSE(controller.decideDestination(download, "dir/a.pdf"));
            EXPECT_TRUE(log.contains(logLine)) << logLine;
            EXPECT_EQ(controller.activeDownloadCount(), 0u);
        }
    }

}
}

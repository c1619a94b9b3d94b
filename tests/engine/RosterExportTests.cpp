#include "EngineSession.h"
#include "platform/vision/OpenCVPhotoFramer.h"
#include "roster/ContactExport.h"
#include "roster/PhotoDownload.h"
#include "roster/RosterExporter.h"
#include "roster/RosterScripts.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

class RosterExportTest : public EngineSessionTest {
protected:
    // Opens the roster page, reads it, frames the photos and writes the file, as the user's
    // export does, and checks the file with a vCard parser against the roster it was served from;
    // then `andThen` runs in the same session.
    void exportAndCheck(const std::filesystem::path& roster, std::function<void(SessionRun&)> andThen = nullptr)
    {
        // The folder the desktop names for downloads takes the file, made when it is missing.
        TemporaryFolder home;
        auto downloads = home.path() / "Téléchargements";
        auto run = startSignedIn(downloads, home.path());
        OpenCVPhotoFramer framer;
        WorkerPool imageWork(run->runLoop, 1);
        CropSession session(run->runLoop, [&](std::vector<CropContact> contacts, std::string title) {
            return exportContacts(std::move(contacts), std::move(title), { framer, imageWork, run->downloadsFolder, run->downloadAnnouncer });
        });
        RosterExporter exporter({ run->runLoop, s_configuration->endpoints.tenantHost, framer, imageWork, session });
        exporter.attach(run->coordinator.webView());

        exporter.autoExportRequested = run->runLoop.now();
        run->coordinator.webView()->load(*URL::parse("https://" + s_configuration->endpoints.tenantHost + "/ashgrove/d/task/1422$2579.htmld"));
        ASSERT_TRUE(runMainLoopUntil([&] { return exporter.isRosterPage(); }, 30s));
        ASSERT_TRUE(runMainLoopUntil([&] { return session.isPresented() || exporter.errorMessage(); }, 180s));
        ASSERT_FALSE(exporter.errorMessage()) << *exporter.errorMessage();
        // The page keeps only a window of its rows in the table, as Workday does: every student in
        // the file was found by scrolling.
        auto tableRows = run->evaluate("document.querySelectorAll('[data-automation-id=\"tableWrapper\"] tbody tr').length");
        ASSERT_FALSE(tableRows.isError()) << tableRows.errorMessage;
        EXPECT_LE(tableRows.value->get<int>(), 20);

        session.exportContacts();
        ASSERT_TRUE(runMainLoopUntil([&] { return !session.isPresented() || session.errorMessage(); }, 120s));
        ASSERT_FALSE(session.errorMessage()) << *session.errorMessage();
        ASSERT_EQ(run->downloadAnnouncer.announcedPaths.size(), 1u);
        EXPECT_EQ(run->downloadAnnouncer.announcedPaths[0].parent_path(), std::filesystem::canonical(downloads));
        auto command = std::string(HALCYRA_SOURCE_DIR "/tests/roster/check-vcard.py '") + run->downloadAnnouncer.announcedPaths[0].string() + "' '" + roster.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        if (andThen)
            andThen(*run);
    }
};

TEST_F(RosterExportTest, readsEveryStudentOnceAndWritesCardsWithThePhotosOfTheSignedInPage)
{
    exportAndCheck(HALCYRA_SHARED_DIR "/demo-tenant/roster.json");
}

// Ten times the rows the table keeps at once: the reading scrolls until it has seen the last row.
TEST_F(RosterExportTest, aRosterOfTwoHundredStudentsIsReadToTheLastRow)
{
    TemporaryFolder folder;
    nlohmann::json students = nlohmann::json::array();
    for (int index = 0; index < 200; ++index) {
        auto id = std::to_string(700000 + index);
        students.push_back({ { "studentId", id }, { "first", "Student" }, { "last", id }, { "email", id + "@ashgrove.test" }, { "classOf", "2028" },
            { "programs", "" }, { "sections", { "COMP 112-01 Introduction to Computing" } }, { "photo", nullptr } });
    }
    auto rosterFile = folder.write("roster.json", nlohmann::json { { "students", students } }.dump());
    s_tenant->control("POST", "/roster", { { "file", rosterFile.string() } });
    exportAndCheck(rosterFile);
}

// A section of 50 000 characters, a TIFF declaring 120 megapixels, a 30 MB photo and a file that
// is no image: each bad photo is left out, every student is exported, and nothing is reported.
TEST_F(RosterExportTest, badSectionsAndPhotosCostOnlyTheBadPhotos)
{
    TemporaryFolder folder;
    std::vector<unsigned char> tiff;
    ASSERT_TRUE(cv::imencode(".tiff", cv::Mat(10000, 12000, CV_8UC1, cv::Scalar(0)), tiff));
    folder.write("huge.tif", std::string(tiff.begin(), tiff.end()));
    auto large = contentsOf(HALCYRA_SHARED_DIR "/testdata/faces/obama.jpg");
    large.resize(30 * 1024 * 1024);
    folder.write("large.jpg", large);
    folder.write("not-an-image.txt", "<html><body>Not found</body></html>");
    auto student = [](std::string id, std::string section, std::string photo, std::string style, bool hasPhoto) {
        return nlohmann::json { { "studentId", id }, { "first", "Student" }, { "last", id }, { "email", id + "@ashgrove.test" }, { "classOf", "2027" },
            { "programs", "" }, { "sections", { section } }, { "photo", photo }, { "photoStyle", style }, { "expectPhoto", hasPhoto } };
    };
    nlohmann::json roster { { "students",
        {
            student("900001", "AB " + std::string(50000, '7'), HALCYRA_SHARED_DIR "/testdata/faces/obama.jpg", "img", true),
            student("900002", "COMP\u00a0112-01 Introduction to Computing", HALCYRA_SHARED_DIR "/testdata/faces/biden2.jpg", "background", true),
            student("900003", "COMP 112-01 Introduction to Computing", "huge.tif", "img", false),
            student("900004", "COMP 112-01 Introduction to Computing", "large.jpg", "background", false),
            student("900005", "COMP 112-01 Introduction to Computing", "not-an-image.txt", "img", false),
        } } };
    auto rosterFile = folder.write("roster.json", roster.dump());
    s_tenant->control("POST", "/roster", { { "file", rosterFile.string() } });

    // The 30 MB photo was refused by the page script, before it was encoded and handed over.
    exportAndCheck(rosterFile, [](SessionRun& run) {
        std::optional<ScriptReply> reply;
        run.coordinator.webView()->callAsyncJavaScript(std::string(photoFetchScript()),
            { { "url", "https://" + s_configuration->endpoints.tenantHost + "/ashgrove/attachment/900004-large.jpg" }, { "maximumBytes", maximumPhotoBytes } },
            [&](ScriptReply value) { reply = std::move(value); });
        ASSERT_TRUE(runMainLoopUntil([&] { return reply.has_value(); }, 30s));
        ASSERT_FALSE(reply->isError()) << reply->errorMessage;
        EXPECT_TRUE(reply->value->is_null()) << reply->value->dump().size() << " characters";
    });
}

}

#include "EngineSession.h"
#include "platform/OpenCVPhotoFramer.h"
#include "roster/ContactExport.h"
#include "roster/RosterExporter.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

using RosterExportTest = EngineSessionTest;

// Every named student of the demo roster ends up once in the file, with the sections, notes and
// photos of the signed-in page.
TEST_F(RosterExportTest, readsEveryStudentOnceAndWritesCardsWithThePhotosOfTheSignedInPage)
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
    EXPECT_FALSE(exporter.progress());
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
    auto command = std::string(HALCYRA_SOURCE_DIR "/tests/roster/check-vcard.py '") + run->downloadAnnouncer.announcedPaths[0].string() + "' '" HALCYRA_SHARED_DIR "/demo-tenant/roster.json'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

}

int main(int argc, char** argv)
{
    return runEngineTests(argc, argv);
}

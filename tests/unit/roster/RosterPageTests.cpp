#include "roster/RosterExporter.h"
#include "roster/RosterPage.h"
#include "support/FakePhotoFramer.h"
#include "support/SessionHarness.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    // "Export Roster Contacts…" opens the roster page with an export asked for; "Course Roster…"
    // opens it too and withdraws an export asked for before, so that it never starts unasked.
    TEST(RosterPageTest, anExportVisitAsksForTheExportAndAPlainVisitWithdrawsIt)
    {
        SessionHarness session;
        FakePhotoFramer framer;
        WorkerPool imageWork { session.loop, 1 };
        CropSession cropSession { session.loop, [](std::vector<CropContact>, std::string) -> Task<ContactExportResult> { co_return ContactExportResult {}; } };
        RosterExporter exporter { { session.loop, demoEndpoints().tenantHost, framer, imageWork, cropSession } };

        openRosterPage(*session.coordinator, exporter, session.loop, RosterVisit::exportContacts);
        EXPECT_EQ(exporter.autoExportRequested, session.loop.now());
        openRosterPage(*session.coordinator, exporter, session.loop, RosterVisit::show);
        EXPECT_FALSE(exporter.autoExportRequested);

        const auto rosterPage = "https://" + demoEndpoints().tenantHost + "/ashgrove/d/task/1422$2579.htmld";
        ASSERT_EQ(session.view().loadedURLs().size(), 2u);
        for (auto& loaded : session.view().loadedURLs())
            EXPECT_EQ(loaded.string(), rosterPage);
    }

}
}

#include "RosterPage.h"

#include "RosterExporter.h"
#include "session/WorkdayWebCoordinator.h"

namespace halcyra {

namespace {

    constexpr const char* rosterPagePath = "/ashgrove/d/task/1422$2579.htmld";

}

void openRosterPage(WorkdayWebCoordinator& coordinator, RosterExporter& exporter, RunLoop& loop, RosterVisit visit)
{
    if (visit == RosterVisit::show)
        exporter.autoExportRequested.reset();
    coordinator.navigate("https://" + coordinator.endpoints().tenantHost + rosterPagePath);
    if (visit == RosterVisit::exportContacts)
        exporter.autoExportRequested = loop.now();
}

}

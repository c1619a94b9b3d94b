#pragma once

namespace halcyra {

class RosterExporter;
class RunLoop;
class WorkdayWebCoordinator;

// Why the user goes to the course roster page: to look at it, or to export its contacts.
enum class RosterVisit { show,
    exportContacts };

// Opens the course roster page in the main view. Asked to export, the exporter starts once the
// page shows the roster; a plain visit withdraws an export asked for before.
void openRosterPage(WorkdayWebCoordinator&, RosterExporter&, RunLoop&, RosterVisit);

}

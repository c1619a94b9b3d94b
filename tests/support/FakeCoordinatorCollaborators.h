#pragma once

#include "support/FakeSessionCollaborators.h"

#include "session/DownloadsFolder.h"
#include "session/WorkdayWebCoordinator.h"

#include <filesystem>
#include <optional>

namespace halcyra {

// Everything a coordinator works with besides the engine, the settings and the credential
// store, as fakes: for tests that build a coordinator of their own.
struct FakeCoordinatorCollaborators {
    explicit FakeCoordinatorCollaborators(std::optional<std::filesystem::path> downloadsLocation = std::nullopt)
        : downloadsFolder(std::move(downloadsLocation))
    {
    }

    // `background` stands in for the fake background session where a test has a real one.
    WorkdayWebCoordinator::Collaborators collaborators(BackgroundSession& background)
    {
        return { poller, pollBrowser, lockController, background, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer };
    }
    WorkdayWebCoordinator::Collaborators collaborators() { return collaborators(backgroundSession); }

    FakeNetworkPathMonitor networkPathMonitor;
    FakeWakeMonitor wakeMonitor;
    FakeCountsPoller poller;
    FakePollBrowser pollBrowser;
    FakeLockController lockController;
    FakeBackgroundSession backgroundSession;
    FakeRosterReader rosterReader;
    FakeExternalOpener externalOpener;
    FakeOpenPanel openPanel;
    LocalDownloadsFolder downloadsFolder;
    FakeDownloadAnnouncer downloadAnnouncer;
};

}

#pragma once

#include "EngineSession.h"

#include "app/CoordinatorPollSession.h"
#include "counts/CountReaders.h"
#include "counts/PollWebView.h"
#include "counts/WorkdayPoller.h"

#include <memory>
#include <optional>

namespace halcyra {

// The session with the real hidden views, and the real poller or (for a test that reads the
// pages itself, undisturbed by the poller's cycles) the fake one. The main view is hosted off
// screen and starts signing in at once.
struct CountsRun : FakeCoordinatorCollaborators {
    enum class Poller { real,
        fake };

    CountsRun(WebKitEngine& engine, const Configuration& configuration, SettingsStore& settings, Keychain& keychain, Poller choice)
        : keychainStore(keychain, settings)
        , pollSession(runLoop, keychainStore, [this] { return &coordinator; })
        , pollWebView(runLoop, engine, configuration.endpoints, pollSession)
        , realPoller(runLoop, settings, configuration.endpoints, pollSession, pollWebView)
        , readers(runLoop, configuration.endpoints.tenantHost)
        , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkPathMonitor, wakeMonitor,
              { choice == Poller::real ? static_cast<CountsPoller&>(realPoller) : poller, pollWebView, lockController, backgroundSession, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer })
    {
        auto view = coordinator.makeWebView(800, 900);
        view->hostOffScreen();
        coordinator.attach(view);
        coordinator.loadEntry(*view);
    }

    ShiftableRunLoop runLoop;
    KeychainStore keychainStore;
    CoordinatorPollSession pollSession;
    PollWebView pollWebView;
    WorkdayPoller realPoller;
    CountReaders readers;
    WorkdayWebCoordinator coordinator;
};

}

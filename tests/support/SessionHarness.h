#pragma once

#include "support/DemoEndpoints.h"
#include "support/FakeKeychain.h"
#include "support/FakeSessionCollaborators.h"
#include "support/FakeWebEngine.h"
#include "support/RunTask.h"
#include "support/VirtualRunLoop.h"

#include "base/SettingsStore.h"
#include "credentials/KeychainStore.h"

#include <memory>

namespace halcyra {

// A coordinator wired to fakes, with its main view made and attached. `restart` replaces the
// coordinator and the credential store as a new process would, keeping the settings and the
// keychain. An `Unstarted` harness leaves the coordinator to the test, which starts it over a
// background session of its own.
class SessionHarness : public FakeCoordinatorCollaborators {
public:
    SessionHarness() { startWithView(); }
    struct Unstarted { };
    explicit SessionHarness(Unstarted) { }

    void restart()
    {
        coordinator.reset();
        keychainStore.reset();
        startWithView();
    }

    void start(BackgroundSession& background)
    {
        keychainStore = std::make_unique<KeychainStore>(keychain, settings);
        coordinator = std::make_unique<WorkdayWebCoordinator>(loop, settings, demoEndpoints(), engine, *keychainStore, networkPathMonitor, wakeMonitor,
            collaborators(background));
    }

    WorkdayWebCoordinator& session() { return *coordinator; }
    FakeWebView& view() { return static_cast<FakeWebView&>(*coordinator->webView()); }

    // Runs a task of the test's to its end on the virtual loop.
    template <typename T>
    T run(Task<T> task)
    {
        return runTask(loop, std::move(task), [this] { loop.runUntilIdle(); });
    }
    void saveCredentials(const std::string& username, const std::string& password) { run(keychainStore->save(username, password)); }

    static SecurityOrigin ssoOrigin() { return { "https", demoEndpoints().ssoHost, 0 }; }

    std::optional<ScriptReply> requestCredentials(bool showsError = false)
    {
        return view().sendScriptMessage("workdayAuth", { { "action", "getCredentials" }, { "showsError", showsError } }, ssoOrigin());
    }

    // The password of a credentials reply; empty when withheld or denied.
    std::string handedOutPassword()
    {
        auto reply = requestCredentials();
        if (!reply || reply->isError())
            return {};
        return (*reply->value)["password"].get<std::string>();
    }

    // Lands the view on a page by a committed, finished navigation.
    void land(const std::string& address) { view().finish(commit(address)); }

    NavigationID commit(const std::string& address)
    {
        auto navigation = view().startNavigation();
        view().commit(navigation, url(address));
        return navigation;
    }

    VirtualRunLoop loop;
    MemorySettingsStore settings;
    FakeKeychain keychain;
    FakeWebEngine engine;
    std::unique_ptr<KeychainStore> keychainStore;
    std::unique_ptr<WorkdayWebCoordinator> coordinator;

private:
    void startWithView()
    {
        start(backgroundSession);
        coordinator->attach(coordinator->makeWebView());
    }
};

}

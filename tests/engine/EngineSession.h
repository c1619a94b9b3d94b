#pragma once

#include "DemoTenant.h"
#include "base/SettingsStore.h"
#include "config/Configuration.h"
#include "credentials/KeychainStore.h"
#include "platform/glib/GLibRunLoop.h"
#include "platform/secrets/LibsecretKeychain.h"
#include "platform/webkit/WebKitEngine.h"
#include "session/DownloadsFolder.h"
#include "session/WorkdayWebCoordinator.h"
#include "support/FakeSessionCollaborators.h"
#include "support/MainLoopWait.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>

namespace halcyra {

// The real main loop with a clock that a test may move forward, so that a rule measured in
// minutes can be passed without waiting for it. Timers run on real time, unless a test
// advances the clock past them.
class ShiftableRunLoop final : public RunLoop {
public:
    MonotonicTime now() const override { return m_loop.now() + m_shift; }
    WallTime wallNow() const override { return m_loop.wallNow() + std::chrono::duration_cast<WallTime::duration>(m_shift); }
    TimerID schedule(Seconds delay, std::function<void()> callback) override;
    void cancel(TimerID) override;
    void post(std::function<void()> callback) override { m_loop.post(std::move(callback)); }

    // Moves the clock on; the timers waiting keep their real-time deadlines.
    void shiftClock(Seconds span) { m_shift += std::chrono::duration_cast<std::chrono::nanoseconds>(span); }
    // Moves the clock on and runs, in deadline order, every timer that falls due within the span,
    // as if the time had passed: a poll cycle need not be waited for.
    void advance(Seconds span);

private:
    struct Timer {
        MonotonicTime deadline;
        TimerID loopTimer;
        std::function<void()> callback;
    };
    void fire(TimerID);

    GLibRunLoop m_loop;
    std::chrono::nanoseconds m_shift { 0 };
    TimerID m_nextTimer { 1 };
    std::map<TimerID, Timer> m_timers;
};

// Runs a script in a view's page and waits (with a limit) for its result.
ScriptReply evaluateScript(WebView&, const std::string& script);

// One run of the application's session logic on the real engine and the real keyring: building
// a new one over the same settings is a restart. The main view is hosted off screen, as at a
// launch with the window hidden, and starts signing in at once.
struct SessionRun : FakeCoordinatorCollaborators {
    SessionRun(WebKitEngine&, const Configuration&, SettingsStore&, Keychain&, std::optional<std::filesystem::path> downloadsLocation = std::nullopt, std::filesystem::path home = {});

    std::optional<URL> url() const { return coordinator.webView()->url(); }
    std::string urlText() const { return url() ? url()->string() : "no URL"; }
    bool isOnHomePage() const { return coordinator.isOnHomePage(); }
    ScriptReply evaluate(const std::string& script) { return evaluateScript(*coordinator.webView(), script); }

    ShiftableRunLoop runLoop;
    KeychainStore keychainStore;
    WorkdayWebCoordinator coordinator;
};

// A suite that shares one demo tenant and one engine (one persistent network session, as the
// application has) and uses the real keyring of the private session bus. Each test starts with
// the tenant reset, no live session and no saved credentials.
class EngineSessionTest : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // Downloads go to `downloadsLocation` as the desktop's folder, else to Downloads in `home`.
    std::unique_ptr<SessionRun> start(std::optional<std::filesystem::path> downloadsLocation = std::nullopt, std::filesystem::path home = {});
    // Saved credentials, then a start that must reach the home page by itself; the test ends
    // (with an exception) where it does not.
    std::unique_ptr<SessionRun> startSignedIn(std::optional<std::filesystem::path> downloadsLocation = std::nullopt, std::filesystem::path home = {});
    int passwordSubmissions();
    void saveCredentials(const std::string& password);

    static DemoTenant* s_tenant;
    static Configuration* s_configuration;
    static WebKitEngine* s_engine;
    // The titles of the page notifications the engine handed to the application.
    static std::vector<std::string> s_shownNotifications;
    MemorySettingsStore m_settings;
    LibsecretKeychain m_keychain;
};

}

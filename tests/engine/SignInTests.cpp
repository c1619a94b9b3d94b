#include "DemoTenant.h"
#include "EngineTestSupport.h"
#include "app/Configuration.h"
#include "base/SettingsStore.h"
#include "credentials/KeychainStore.h"
#include "platform/GLibRunLoop.h"
#include "platform/LibsecretKeychain.h"
#include "platform/WebKitEngine.h"
#include "session/DownloadsFolder.h"
#include "session/WorkdayWebCoordinator.h"
#include "support/FakeSessionCollaborators.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

// The real main loop with a clock that a test may move forward, so that a rule measured in
// minutes can be passed without waiting for it. Timers still run on real time.
class ShiftableRunLoop final : public RunLoop {
public:
    MonotonicTime now() const override { return m_loop.now() + m_shift; }
    WallTime wallNow() const override { return m_loop.wallNow() + std::chrono::duration_cast<WallTime::duration>(m_shift); }
    TimerID schedule(Seconds delay, std::function<void()> callback) override { return m_loop.schedule(delay, std::move(callback)); }
    void cancel(TimerID timer) override { m_loop.cancel(timer); }

    void shiftClock(Seconds span) { m_shift += std::chrono::duration_cast<std::chrono::nanoseconds>(span); }

private:
    GLibRunLoop m_loop;
    std::chrono::nanoseconds m_shift { 0 };
};

// One run of the application's session logic on the real engine and the real keyring: building
// a new one over the same settings is a restart.
struct SessionRun {
    SessionRun(WebKitEngine& engine, const Configuration& configuration, SettingsStore& settings, Keychain& keychain)
        : keychainStore(keychain, settings)
        , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkPathMonitor, wakeMonitor,
              { poller, pollBrowser, lockController, backgroundSession, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer })
    {
        auto view = coordinator.makeWebView(800, 900);
        view->hostOffScreen();
        coordinator.attach(view);
        coordinator.loadEntry(*view);
    }

    std::optional<URL> url() const { return coordinator.webView()->url(); }
    bool isOnHomePage() const { return coordinator.isOnHomePage(); }

    ShiftableRunLoop runLoop;
    KeychainStore keychainStore;
    FakeNetworkPathMonitor networkPathMonitor;
    FakeWakeMonitor wakeMonitor;
    FakeCountsPoller poller;
    FakePollBrowser pollBrowser;
    FakeLockController lockController;
    FakeBackgroundSession backgroundSession;
    FakeRosterReader rosterReader;
    FakeExternalOpener externalOpener;
    FakeOpenPanel openPanel;
    LocalDownloadsFolder downloadsFolder { std::nullopt };
    FakeDownloadAnnouncer downloadAnnouncer;
    WorkdayWebCoordinator coordinator;
};

class SignInTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_tenant = new DemoTenant;
        auto result = loadConfiguration(s_tenant->configurationFile());
        ASSERT_TRUE(result.configuration) << result.error;
        s_configuration = new Configuration(*result.configuration);
        auto options = WebKitEngine::defaultOptions();
        options.dataDirectory = s_tenant->stateFolder() / "web-data";
        options.cacheDirectory = s_tenant->stateFolder() / "web-cache";
        options.webProcessExtensionDirectory = HALCYRA_WEB_PROCESS_EXTENSION_DIR;
        options.scriptMessageHandlerNames = { "workdayAuth" };
        s_engine = new WebKitEngine(*s_configuration, options);
    }
    static void TearDownTestSuite()
    {
        delete s_engine;
        delete s_configuration;
        delete s_tenant;
    }
    void SetUp() override
    {
        s_tenant->control("POST", "/reset");
        s_tenant->control("POST", "/duo", { { "mode", "approve" }, { "delayMs", 200 } });
        s_tenant->control("POST", "/expire-sessions");
        m_keychain.remove({ "com.ashgrove.workday.sso", "ashgrove-ss" });
    }

    std::unique_ptr<SessionRun> start() { return std::make_unique<SessionRun>(*s_engine, *s_configuration, m_settings, m_keychain); }
    int passwordSubmissions() { return s_tenant->state()["passwordSubmissions"].get<int>(); }
    void saveCredentials(const std::string& password)
    {
        KeychainStore(m_keychain, m_settings).save("demo", password);
    }

    static DemoTenant* s_tenant;
    static Configuration* s_configuration;
    static WebKitEngine* s_engine;
    MemorySettingsStore m_settings;
    LibsecretKeychain m_keychain;
};

DemoTenant* SignInTest::s_tenant = nullptr;
Configuration* SignInTest::s_configuration = nullptr;
WebKitEngine* SignInTest::s_engine = nullptr;

}

TEST_F(SignInTest, savedCredentialsSignInWithExactlyOneSubmission)
{
    saveCredentials("ashgrove-demo");
    auto run = start();
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 30s)) << (run->url() ? run->url()->string() : "no URL");
    EXPECT_EQ(passwordSubmissions(), 1);
    EXPECT_EQ(s_tenant->state()["lastUsername"], "demo");
    // Reaching Workday confirmed the sign-in.
    EXPECT_TRUE(m_settings.array("ssoUnconfirmedAutoSubmits").value_or(nlohmann::json::array_t {}).empty());
    EXPECT_FALSE(m_settings.boolean("ssoPasswordRejected").value_or(false));
}

TEST_F(SignInTest, rejectedPasswordIsSubmittedOnceEvenAcrossReloadsAndRestarts)
{
    for (auto mode : { "form-error", "401" }) {
        SCOPED_TRACE(mode);
        m_settings = MemorySettingsStore();
        s_tenant->control("POST", "/reset");
        s_tenant->control("POST", "/reject", { { "mode", mode } });
        saveCredentials("wrong-password");
        auto submissionsBefore = passwordSubmissions();
        {
            auto run = start();
            ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == submissionsBefore + 1; }, 20s));
            ASSERT_TRUE(runMainLoopUntil([&] { return m_settings.boolean("ssoPasswordRejected").value_or(false); }, 20s));
            for (int reload = 0; reload < 2; ++reload) {
                run->coordinator.loadEntry(*run->coordinator.webView());
                runMainLoopFor(2s);
            }
        }
        auto restarted = start();
        runMainLoopFor(3s);
        EXPECT_EQ(passwordSubmissions(), submissionsBefore + 1);
        // The user name stays in the form for the user to finish by hand.
        std::optional<ScriptResult> userName;
        restarted->coordinator.webView()->evaluateJavaScript("(document.querySelector('input[name=\"username\"]') || {}).value || ''", [&](ScriptResult result) { userName = result; });
        ASSERT_TRUE(runMainLoopUntil([&] { return userName.has_value(); }));
        EXPECT_EQ(userName->value, "demo");
    }
}

TEST_F(SignInTest, endedSessionIsSignedBackInOnceWithin180Seconds)
{
    saveCredentials("ashgrove-demo");
    auto run = start();
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 30s));
    auto submissionsAfterSignIn = passwordSubmissions();

    // Past the two minutes in which the same sign-in never gets the password twice.
    run->runLoop.shiftClock(121s);
    s_tenant->control("POST", "/expire-sessions");
    run->coordinator.loadHome();
    ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == submissionsAfterSignIn + 1; }, 20s));
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 30s));

    // A second end within three minutes of that recovery is left for the user.
    run->runLoop.shiftClock(121s);
    s_tenant->control("POST", "/expire-sessions");
    run->coordinator.loadHome();
    ASSERT_TRUE(runMainLoopUntil([&] { return s_configuration->endpoints.isSessionEndedURL(run->url()); }, 20s));
    runMainLoopFor(3s);
    EXPECT_EQ(passwordSubmissions(), submissionsAfterSignIn + 1);
    EXPECT_TRUE(s_configuration->endpoints.isSessionEndedURL(run->url()));
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    gtk_init();
    return RUN_ALL_TESTS();
}

#include "EngineSession.h"

#include "support/MainLoopTask.h"

#include <algorithm>
#include <gtk/gtk.h>
#include <stdexcept>
#include <vector>

namespace halcyra {

using namespace std::chrono_literals;

SessionRun::SessionRun(WebKitEngine& engine, const Configuration& configuration, SettingsStore& settings, Keychain& keychain, std::optional<std::filesystem::path> downloadsLocation, std::filesystem::path home)
    : FakeCoordinatorCollaborators(std::move(downloadsLocation), std::move(home))
    , keychainStore(keychain, settings)
    , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkPathMonitor, wakeMonitor, collaborators())
{
    auto view = coordinator.makeWebView(800, 900);
    view->hostOffScreen();
    coordinator.attach(view);
    coordinator.loadEntry(*view);
}

RunLoop::TimerID ShiftableRunLoop::schedule(Seconds delay, std::function<void()> callback)
{
    auto timer = m_nextTimer++;
    auto loopTimer = m_loop.schedule(delay, [this, timer] { fire(timer); });
    m_timers.emplace(timer, Timer { now() + std::chrono::duration_cast<MonotonicTime::duration>(delay), loopTimer, std::move(callback) });
    return timer;
}

void ShiftableRunLoop::cancel(TimerID timer)
{
    auto node = m_timers.extract(timer);
    if (!node.empty())
        m_loop.cancel(node.mapped().loopTimer);
}

void ShiftableRunLoop::fire(TimerID timer)
{
    auto node = m_timers.extract(timer);
    if (!node.empty())
        node.mapped().callback();
}

void ShiftableRunLoop::advance(Seconds span)
{
    shiftClock(span);
    std::vector<std::pair<MonotonicTime, TimerID>> due;
    for (auto& [timer, pending] : m_timers) {
        if (pending.deadline <= now())
            due.emplace_back(pending.deadline, timer);
    }
    std::sort(due.begin(), due.end());
    // A timer that an earlier one cancelled is gone from the map and is skipped.
    for (auto& [deadline, timer] : due) {
        if (auto found = m_timers.find(timer); found != m_timers.end()) {
            m_loop.cancel(found->second.loopTimer);
            fire(timer);
        }
    }
}

ScriptReply evaluateScript(WebView& view, const std::string& script)
{
    std::optional<ScriptReply> result;
    view.evaluateJavaScript(script, [&](ScriptReply value) { result = std::move(value); });
    if (!runMainLoopUntil([&] { return result.has_value(); }, 10s))
        return ScriptReply::failure("no result in time");
    return *result;
}

DemoTenant* EngineSessionTest::s_tenant = nullptr;
Configuration* EngineSessionTest::s_configuration = nullptr;
WebKitEngine* EngineSessionTest::s_engine = nullptr;
std::vector<std::string> EngineSessionTest::s_shownNotifications;

void EngineSessionTest::SetUpTestSuite()
{
    s_tenant = new DemoTenant;
    auto result = loadConfiguration(s_tenant->configurationFile());
    ASSERT_TRUE(result.configuration) << result.error;
    s_configuration = new Configuration(*result.configuration);
    auto options = WebKitEngine::defaultOptions();
    options.dataDirectory = s_tenant->stateFolder() / "web-data";
    options.cacheDirectory = s_tenant->stateFolder() / "web-cache";
    options.webProcessExtensionDirectory = HALCYRA_WEB_PROCESS_EXTENSION_DIR;
    options.scriptMessageHandlerNames = { WorkdayWebCoordinator::authMessageName };
    options.notificationOrigins = { s_configuration->endpoints.notificationOrigin() };
    options.showNotification = [](WebKitNotification* notification) { s_shownNotifications.push_back(webkit_notification_get_title(notification)); };
    s_engine = new WebKitEngine(*s_configuration, options);
}

void EngineSessionTest::TearDownTestSuite()
{
    delete std::exchange(s_engine, nullptr);
    delete std::exchange(s_configuration, nullptr);
    delete std::exchange(s_tenant, nullptr);
}

void EngineSessionTest::SetUp()
{
    s_tenant->control("POST", "/reset");
    s_tenant->control("POST", "/duo", { { "mode", "approve" }, { "delayMs", 200 } });
    s_tenant->control("POST", "/expire-sessions");
    runOnMainLoop(m_keychain.remove({ KeychainStore::service, KeychainStore::account }));
}

std::unique_ptr<SessionRun> EngineSessionTest::start(std::optional<std::filesystem::path> downloadsLocation, std::filesystem::path home)
{
    return std::make_unique<SessionRun>(*s_engine, *s_configuration, m_settings, m_keychain, std::move(downloadsLocation), std::move(home));
}

std::unique_ptr<SessionRun> EngineSessionTest::startSignedIn(std::optional<std::filesystem::path> downloadsLocation, std::filesystem::path home)
{
    saveCredentials("ashgrove-demo");
    auto run = start(std::move(downloadsLocation), std::move(home));
    // Until the home page has finished loading: a load asked for while the redirect to it is
    // still under way can lose to it.
    if (!runMainLoopUntil([&] { return run->isOnHomePage() && !run->coordinator.webView()->isLoading(); }, 60s))
        throw std::runtime_error("the start did not sign in: the view is on " + run->urlText());
    return run;
}

int EngineSessionTest::passwordSubmissions()
{
    return s_tenant->state()["passwordSubmissions"].get<int>();
}

void EngineSessionTest::saveCredentials(const std::string& password)
{
    KeychainStore store(m_keychain, m_settings);
    runOnMainLoop(store.save("demo", password));
}

}

// Every engine test program and benchmark starts GTK before its tests.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    gtk_init();
    return RUN_ALL_TESTS();
}

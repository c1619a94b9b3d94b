#include "Application.h"

#include "badge/BadgeSettings.h"
#include "badge/LoggingBadgeSink.h"
#include "base/FileSettingsStore.h"
#include "base/Log.h"
#include "base/TaskGroup.h"
#include "counts/CoordinatorPollSession.h"
#include "counts/CountsPublisher.h"
#include "counts/PollWebView.h"
#include "counts/WorkdayPoller.h"
#include "credentials/KeychainStore.h"
#include "lock/GateController.h"
#include "platform/DesktopExternalOpener.h"
#include "platform/DesktopScreenEvents.h"
#include "platform/DesktopSessionIdleTime.h"
#include "platform/FileChooserOpenPanel.h"
#include "platform/GLibRunLoop.h"
#include "platform/GioNetworkPathMonitor.h"
#include "platform/LibsecretKeychain.h"
#include "platform/LogindWakeMonitor.h"
#include "platform/PamAuthenticator.h"
#include "platform/PolkitAuthenticator.h"
#include "platform/RecentFilesAnnouncer.h"
#include "platform/SoupRecordStore.h"
#include "platform/WebKitEngine.h"
#include "platform/WebKitView.h"
#include "session/DownloadsFolder.h"
#include "session/NullCollaborators.h"
#include "session/OffScreenHost.h"
#include "session/WorkdayWebCoordinator.h"
#include "sync/CountsSync.h"
#include "sync/SyncServerAddress.h"
#include "ui/MainWindow.h"
#include "ui/PasswordDialog.h"
#include "ui/WindowActivityMonitor.h"

#include <adwaita.h>
#include <string_view>

namespace halcyra {

namespace {

    constexpr const char* applicationID = "com.ashgrove.Halcyra";

    std::optional<std::filesystem::path> userDownloadsFolder()
    {
        if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD))
            return std::filesystem::path(folder);
        return std::nullopt;
    }

}

// The poller is made before the counts sync it publishes to; this hands readings on once both
// exist.
class ForwardingCountsPublisher final : public CountsPublisher {
public:
    void setSync(CountsSync* sync) { m_sync = sync; }
    void publish(const SyncedCounts& counts) override
    {
        if (m_sync)
            m_sync->publish(counts);
    }

private:
    CountsSync* m_sync { nullptr };
};

// Everything the application holds for its lifetime, in the order it is built.
struct Application::Services {
    explicit Services(const Configuration& configuration)
        : settings(FileSettingsStore::defaultPath(), runLoop)
        , keychainStore(keychain, settings)
        , engine(configuration, engineOptions())
        , downloadsFolder(userDownloadsFolder())
        , offScreenHost(runLoop, settings)
        , pollSession(runLoop, keychainStore)
        , badgeSettings(settings)
        , pollWebView(runLoop, engine, configuration.endpoints, pollSession)
        , poller(runLoop, settings, configuration.endpoints, pollSession, pollWebView, badgeSettings, badgeSink, countsPublisher)
        , passwordAuthenticator(passwordDialog)
        , authenticator(passwordAuthenticator)
        , lockController({ runLoop, windowActivity, sessionIdleTime, screenEvents }, GateController::HasSavedCredentials::Yes)
        , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkMonitor, wakeMonitor,
              { poller, pollWebView, lockController, offScreenHost, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer })
        , countsSync(settings, countsSyncEngineFactory(configuration.sync), [this](const SyncedCounts& counts) { poller.applySynced(counts); })
    {
        offScreenHost.setCoordinator(&coordinator);
        pollSession.setCoordinator(&coordinator);
        countsPublisher.setSync(&countsSync);
    }

    static WebKitEngineOptions engineOptions()
    {
        auto options = WebKitEngine::defaultOptions();
        options.scriptMessageHandlerNames = { "workdayAuth" };
        return options;
    }

    // Sync stays off without a server, or with one it must not send the password to.
    CountsSync::EngineFactory countsSyncEngineFactory(const SyncServer& server)
    {
        if (!server.isEnabled())
            return nullptr;
        if (auto problem = syncServerAddressProblem(server.url)) {
            logError("[Sync] " + *problem);
            return nullptr;
        }
        return [this, server](std::optional<nlohmann::json> savedState, CountsSyncEngineDelegate& delegate) {
            syncStore = std::make_unique<SoupRecordStore>(syncServerBaseAddress(server.url));
            CountsSyncEngineConfiguration configuration;
            configuration.serverURL = server.url;
            configuration.user = server.user;
            configuration.stateSerialization = std::move(savedState);
            return std::make_unique<CountsSyncEngine>(runLoop, *syncStore, keychain, networkMonitor, std::move(configuration), delegate);
        };
    }

    GLibRunLoop runLoop;
    FileSettingsStore settings;
    LibsecretKeychain keychain;
    KeychainStore keychainStore;
    WebKitEngine engine;
    GioNetworkPathMonitor networkMonitor;
    LogindWakeMonitor wakeMonitor;
    DesktopExternalOpener externalOpener;
    FileChooserOpenPanel openPanel;
    LocalDownloadsFolder downloadsFolder;
    RecentFilesAnnouncer downloadAnnouncer;
    OffScreenHost offScreenHost;
    CoordinatorPollSession pollSession;
    BadgeSettings badgeSettings;
    LoggingBadgeSink badgeSink;
    ForwardingCountsPublisher countsPublisher;
    PollWebView pollWebView;
    WorkdayPoller poller;
    // The lock: the gate itself is laid over the web view by the main window.
    WindowActivityMonitor windowActivity;
    DesktopSessionIdleTime sessionIdleTime;
    DesktopScreenEvents screenEvents;
    PasswordDialog passwordDialog;
    PamAuthenticator passwordAuthenticator;
    PolkitAuthenticator authenticator;
    GateController lockController;
    NullRosterReader rosterReader;
    WorkdayWebCoordinator coordinator;
    std::unique_ptr<SoupRecordStore> syncStore;
    CountsSync countsSync;
    TaskGroup tasks { runLoop };
};

Application::Application(Configuration configuration)
    : m_configuration(std::move(configuration))
{
}

Application::~Application() = default;

int Application::run(int argc, char** argv)
{
    auto* application = adw_application_new(applicationID, G_APPLICATION_DEFAULT_FLAGS);
    m_gtkApplication = application;
    g_signal_connect(application, "startup", G_CALLBACK(startup), this);
    g_signal_connect(application, "activate", G_CALLBACK(activate), this);
    // GApplication would read "-HalcyraVerbose" as a run of unknown short options; the log reads
    // it from the process's own arguments, so everything else is passed on.
    std::vector<char*> arguments;
    for (int index = 0; index < argc; ++index) {
        if (index == 0 || std::string_view(argv[index]) != "-HalcyraVerbose")
            arguments.push_back(argv[index]);
    }
    arguments.push_back(nullptr);
    int status = g_application_run(G_APPLICATION(application), static_cast<int>(arguments.size() - 1), arguments.data());
    m_mainWindow.reset();
    m_services.reset();
    g_object_unref(application);
    return status;
}

void Application::startup(void* gtkApplication, Application* self)
{
    self->m_services = std::make_unique<Services>(self->m_configuration);
    auto& services = *self->m_services;
    services.lockController.start();
    services.tasks.spawn([](Services& services) -> Task<void> {
        co_await services.keychainStore.deleteLegacyUsername();
        auto credentials = co_await services.keychainStore.load();
        if (!credentials)
            services.lockController.openForFirstSignIn();
    }(services));
    services.countsSync.start();
    services.offScreenHost.startAfterLaunch([self] { return self->m_mainWindow != nullptr; });

    // Closing the window only hides it; the application ends when the user quits.
    g_application_hold(G_APPLICATION(gtkApplication));
    auto* quit = g_simple_action_new("quit", nullptr);
    g_signal_connect(quit, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer application) {
        g_application_release(G_APPLICATION(application));
        g_application_quit(G_APPLICATION(application));
    }),
        gtkApplication);
    g_action_map_add_action(G_ACTION_MAP(gtkApplication), G_ACTION(quit));
    g_object_unref(quit);
    const char* quitAccelerators[] = { "<Control>q", nullptr };
    gtk_application_set_accels_for_action(GTK_APPLICATION(gtkApplication), "app.quit", quitAccelerators);
    logVerbose("[App] started");
}

void Application::activate(void*, Application* self)
{
    // Started hidden, the launch itself shows no window; a later activation (the user
    // starting Halcyra again from the launcher) does.
    bool isLaunch = !std::exchange(self->m_hasActivated, true);
    if (isLaunch && self->m_services->offScreenHost.isHiddenOnLaunch())
        return;
    self->presentMainWindow();
}

void Application::presentMainWindow()
{
    if (m_mainWindow) {
        m_mainWindow->present();
        return;
    }
    auto& services = *m_services;

    // The one main web view: the coordinator's, else the background host's, else a new one.
    // Taking it into the window ends its off-screen hosting.
    auto webView = services.coordinator.webViewForMainWindow();
    services.offScreenHost.endOffScreenHosting();
    m_mainWindow = std::make_unique<MainWindow>(GTK_APPLICATION(m_gtkApplication), webView);
    m_mainWindow->present();
}

}

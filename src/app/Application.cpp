#include "Application.h"

#include "app/CoordinatorPollSession.h"
#include "badge/BadgeComposer.h"
#include "badge/BadgeSettings.h"
#include "base/FileSettingsStore.h"
#include "base/Log.h"
#include "base/TaskGroup.h"
#include "counts/PollWebView.h"
#include "counts/WorkdayPoller.h"
#include "credentials/KeychainStore.h"
#include "lock/GateController.h"
#include "notifications/NewTaskNotifier.h"
#include "platform/auth/PamAuthenticator.h"
#include "platform/auth/PolkitAuthenticator.h"
#include "platform/desktop/CountsBusObject.h"
#include "platform/desktop/DesktopExternalOpener.h"
#include "platform/desktop/DesktopNotifications.h"
#include "platform/desktop/DesktopScreenEvents.h"
#include "platform/desktop/DesktopSessionIdleTime.h"
#include "platform/desktop/FileChooserOpenPanel.h"
#include "platform/desktop/LogindWakeMonitor.h"
#include "platform/desktop/RecentFilesAnnouncer.h"
#include "platform/desktop/UnityLauncherEntry.h"
#include "platform/glib/FreedHeapMemory.h"
#include "platform/glib/GLibRunLoop.h"
#include "platform/network/GioNetworkPathMonitor.h"
#include "platform/network/SoupRecordStore.h"
#include "platform/network/SoupUpdateFeed.h"
#include "platform/secrets/LibsecretKeychain.h"
#include "platform/vision/LoadedPhotoFramer.h"
#include "platform/webkit/WebKitEngine.h"
#include "platform/webkit/WebNotifications.h"
#include "roster/ContactExport.h"
#include "roster/CropSession.h"
#include "roster/RosterExporter.h"
#include "roster/RosterPage.h"
#include "session/DownloadsFolder.h"
#include "session/OffScreenHost.h"
#include "session/WorkdayWebCoordinator.h"
#include "sync/CountsSync.h"
#include "sync/SyncServerAddress.h"
#include "ui/AboutWindow.h"
#include "ui/ApplicationActions.h"
#include "ui/ApplicationMenu.h"
#include "ui/CountBubbles.h"
#include "ui/CropEditorPresentation.h"
#include "ui/MainWindow.h"
#include "ui/PasswordDialog.h"
#include "ui/PreferencesPresentation.h"
#include "ui/UpdateDialog.h"
#include "ui/WindowActivityMonitor.h"
#include "update/SoftwareUpdater.h"

#include <adwaita.h>
#include <glib-unix.h>
#include <string_view>

namespace halcyra {

namespace {

    constexpr const char* applicationID = "com.ashgrove.Halcyra";
    constexpr const char* desktopFileID = "com.ashgrove.Halcyra.desktop";

    // The Downloads folder that xdg-user-dirs names, if any.
    std::optional<std::filesystem::path> desktopDownloadsFolder()
    {
        if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD))
            return std::filesystem::path(folder);
        return std::nullopt;
    }

}

// Everything the application holds for its lifetime, in the order it is built.
struct Application::Services {
    // What the services ask of the application's window.
    struct WindowHooks {
        std::function<bool()> isApplicationFocused;
        std::function<void()> presentMainWindow;
    };

    Services(const Configuration& configuration, RenderingChoice rendering, GApplication* application, WindowHooks window)
        : settings(FileSettingsStore::defaultPath(), runLoop)
        , keychainStore(keychain, settings)
        , webNotifications(application, std::move(window.presentMainWindow))
        , engine(configuration, engineOptions(configuration, rendering))
        , downloadsFolder(desktopDownloadsFolder(), g_get_home_dir())
        , offScreenHost(runLoop, settings)
        , pollSession(runLoop, keychainStore, [this] { return &coordinator; })
        , badgeSettings(settings)
        , badgeSink(g_application_get_dbus_connection(application), desktopFileID)
        , desktopNotifications(application)
        , taskNotifier({ runLoop, settings, std::move(window.isApplicationFocused), [this](std::int64_t newTasks) { desktopNotifications.showNewTasks(newTasks); } })
        , pollWebView(runLoop, engine, configuration.endpoints, pollSession)
        , poller(runLoop, settings, configuration.endpoints, pollSession, pollWebView)
        , passwordAuthenticator(passwordDialog)
        , authenticator(passwordAuthenticator)
        , lockController({ runLoop, windowActivity, sessionIdleTime, screenEvents })
        , rosterReader({ runLoop, configuration.endpoints.tenantHost, photoFramer, imageWork, cropSession })
        , cropEditor(runLoop, cropSession, lockController, windowActivity, GTK_APPLICATION(application))
        , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkMonitor, wakeMonitor,
              { poller, pollWebView, lockController, offScreenHost, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer })
        , countsSync(runLoop, settings, countsSyncEngineFactory(configuration.sync), [this](const CountsReading& reading) { poller.applySynced(reading); })
        , countsBusObject(g_application_get_dbus_connection(application))
        , updateFeed(configuration.updateFeedURL.empty() ? nullptr : std::make_unique<SoupUpdateFeed>(configuration.updateFeedURL, configuration.proxyURL))
        , updater(updateFeed.get(), PROJECT_VERSION)
    {
        // Each sink of the counts takes the readings the poller hands out; none asks it back.
        readingObservations.push_back(poller.observeReading([this](const CountsReading& reading) { badgeComposer.takeReading(reading); }));
        readingObservations.push_back(poller.observeReading([this](const CountsReading& reading) { taskNotifier.takeReading(reading); }));
        readingObservations.push_back(poller.observeReading([this](const CountsReading& reading) { countsSync.takeReading(reading); }));
        readingObservations.push_back(poller.observeReading([this](const CountsReading& reading) { publishOnBus(reading); }));
        publishOnBus(poller.reading());
        publishOnBusEveryMinute();
    }

    ~Services() { runLoop.cancel(busTick); }

    void publishOnBus(const CountsReading& reading)
    {
        countsBusObject.update(reading, subtitleText(reading, runLoop.wallNow()));
    }

    // The status text on the bus says how old the counts are ("Updated 5 minutes ago"), as the
    // window's subtitle does: written again every minute, not only with a new reading (offline,
    // none comes for as long as the network is away). Unchanged, it is not sent.
    void publishOnBusEveryMinute()
    {
        busTick = runLoop.schedule(Seconds(60), [this] {
            publishOnBus(poller.reading());
            publishOnBusEveryMinute();
        });
    }

    WebKitEngineOptions engineOptions(const Configuration& configuration, RenderingChoice rendering)
    {
        auto options = WebKitEngine::defaultOptions();
        options.scriptMessageHandlerNames = { "workdayAuth" };
        options.notificationOrigins = { configuration.endpoints.notificationOrigin() };
        options.showNotification = [this](WebKitNotification* notification) { webNotifications.show(notification); };
        options.compositesPages = rendering.compositesPages;
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
    WebNotifications webNotifications;
    WebKitEngine engine;
    GioNetworkPathMonitor networkMonitor;
    LogindWakeMonitor wakeMonitor;
    DesktopExternalOpener externalOpener;
    FileChooserOpenPanel openPanel;
    UserDownloadsFolder downloadsFolder;
    RecentFilesAnnouncer downloadAnnouncer;
    OffScreenHost offScreenHost;
    CoordinatorPollSession pollSession;
    BadgeSettings badgeSettings;
    UnityLauncherEntry badgeSink;
    BadgeComposer badgeComposer { runLoop, badgeSettings, badgeSink };
    DesktopNotifications desktopNotifications;
    NewTaskNotifier taskNotifier;
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
    // Course roster: the exporter that watches the main web view, the framing session it hands
    // the contacts to and its editor, and the worker threads that frame and render photos, one
    // per core.
    LoadedPhotoFramer photoFramer;
    WorkerPool imageWork { runLoop, WorkerPool::coreCount(4) };
    CropSession cropSession { runLoop, [this](std::vector<CropContact> contacts, std::string title) {
                                 return exportContacts(std::move(contacts), std::move(title), { photoFramer, imageWork, downloadsFolder, downloadAnnouncer });
                             } };
    RosterExporter rosterReader;
    CropEditorPresentation cropEditor;

    WorkdayWebCoordinator coordinator;
    std::unique_ptr<SoupRecordStore> syncStore;
    CountsSync countsSync;
    CountsBusObject countsBusObject;
    RunLoop::TimerID busTick { 0 };
    std::vector<Connection> readingObservations;
    std::unique_ptr<SoupUpdateFeed> updateFeed;
    SoftwareUpdater updater;
    PreferencesPresentation preferences { { runLoop, settings, taskNotifier, badgeSettings, keychainStore, windowActivity } };
    TaskGroup tasks { runLoop };
};

Application::Application(Configuration configuration, RenderingChoice rendering)
    : m_configuration(std::move(configuration))
    , m_rendering(rendering)
{
}

Application::~Application() = default;

int Application::run(int argc, char** argv)
{
    m_gtkApplication = adoptGRef(GTK_APPLICATION(adw_application_new(applicationID, G_APPLICATION_DEFAULT_FLAGS)));
    g_signal_connect(m_gtkApplication.get(), "startup", G_CALLBACK(startup), this);
    g_signal_connect(m_gtkApplication.get(), "activate", G_CALLBACK(activate), this);
    // GApplication would read "-HalcyraVerbose" as a run of unknown short options; the log reads
    // it from the process's own arguments, so everything else is passed on.
    std::vector<char*> arguments;
    for (int index = 0; index < argc; ++index) {
        if (index == 0 || std::string_view(argv[index]) != "-HalcyraVerbose")
            arguments.push_back(argv[index]);
    }
    arguments.push_back(nullptr);
    int status = g_application_run(G_APPLICATION(m_gtkApplication.get()), static_cast<int>(arguments.size() - 1), arguments.data());
    m_mainWindow.reset();
    m_actions.reset();
    m_services.reset();
    m_gtkApplication = nullptr;
    return status;
}

void Application::startup(GtkApplication* gtkApplication, Application* self)
{
    logLaunchStep("GTK ready");
    Services::WindowHooks window {
        // Any of the application's windows: with Settings or the framing editor in front, the
        // user is in Halcyra, not away from it.
        [gtkApplication] {
            for (auto* window = gtk_application_get_windows(gtkApplication); window; window = window->next) {
                if (gtk_window_is_active(GTK_WINDOW(window->data)))
                    return true;
            }
            return false;
        },
        [self] { self->presentMainWindow(); },
    };
    self->m_services = std::make_unique<Services>(self->m_configuration, self->m_rendering, G_APPLICATION(gtkApplication), std::move(window));
    logLaunchStep("web context ready");
    auto& services = *self->m_services;
    services.lockController.start();
    services.tasks.spawn([](Services& services) -> Task<void> {
        co_await services.keychainStore.deleteLegacyUsername();
        co_await services.lockController.openForFirstSignInUnlessCredentialsAreSaved(services.keychainStore);
        logLaunchStep("keychain answered");
    }(services));
    services.countsSync.start();
    returnFreedHeapMemoryEveryMinute();
    services.offScreenHost.startAfterLaunch(services.coordinator, [self] { return self->m_mainWindow != nullptr; });

    // Closing the window only hides it; the application ends when the user quits, or when the
    // session ends it: then it quits the same way, so pending settings are written.
    g_application_hold(G_APPLICATION(gtkApplication));
    for (int signal : { SIGTERM, SIGINT, SIGHUP }) {
        g_unix_signal_add(
            signal, +[](gpointer application) -> gboolean {
            g_action_group_activate_action(G_ACTION_GROUP(application), "quit", nullptr);
            return G_SOURCE_CONTINUE; }, gtkApplication);
    }
    self->installActions();
    logVerbose("[App] started");
}

void Application::installActions()
{
    auto& services = *m_services;
    auto* application = m_gtkApplication.get();
    ApplicationActions::Handlers handlers;
    handlers.quit = [application] {
        g_application_release(G_APPLICATION(application));
        g_application_quit(G_APPLICATION(application));
    };
    handlers.showCourseRoster = [this] { showRosterPage(RosterVisit::show); };
    handlers.exportRosterContacts = [this] { showRosterPage(RosterVisit::exportContacts); };
    handlers.openInbox = [this] {
        presentMainWindow();
        m_mainWindow->openInbox();
    };
    handlers.webNotificationClicked = [&services](std::uint64_t id) { services.webNotifications.clicked(id); };
    handlers.showPreferences = [this, application] { m_services->preferences.present(application, mainWindow()); };
    // One About window: asked again, the open one comes to the front.
    handlers.showAbout = [this, application] {
        m_aboutWindow.present([&] {
            auto* window = makeAboutWindow(mainWindow(), { PROJECT_VERSION, m_configuration.website });
            if (!m_mainWindow)
                gtk_window_set_application(window, application);
            return window;
        });
    };
    handlers.lock = [&lockController = services.lockController] {
        if (!lockController.isLocked())
            lockController.toggle();
    };
    handlers.checkForUpdates = [this] {
        m_services->updater.checkForUpdates([this](const UpdateCheckResult& result) { presentUpdateCheckResult(mainWindow(), result, PROJECT_VERSION); });
    };
    handlers.didActivate = [this] { m_hasActivated = true; };
    m_actions = std::make_unique<ApplicationActions>(application, services.runLoop, services.rosterReader, services.updater, std::move(handlers));
}

void Application::activate(GtkApplication*, Application* self)
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
    MainWindowModels models { services.runLoop, services.settings, services.coordinator, services.poller, services.lockController,
        services.authenticator, services.windowActivity, services.wakeMonitor, services.rosterReader };
    m_mainWindow = std::make_unique<MainWindow>(m_gtkApplication.get(), webView, models, G_MENU_MODEL(makeApplicationMenu().get()));
    m_mainWindow->present();
}

// The parent of the application's other windows and dialogs; none before the main window exists.
GtkWindow* Application::mainWindow() const
{
    return m_mainWindow ? m_mainWindow->window() : nullptr;
}

void Application::showRosterPage(RosterVisit visit)
{
    presentMainWindow();
    m_mainWindow->performUnlocked([this, visit] {
        auto& services = *m_services;
        openRosterPage(services.coordinator, services.rosterReader, services.runLoop, visit);
    });
}

}

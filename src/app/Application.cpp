#include "Application.h"

#include "update/SoftwareUpdater.h"
#include "badge/BadgeComponent.h"
#include "badge/BadgeSettings.h"
#include "base/FileSettingsStore.h"
#include "base/Localization.h"
#include "base/Log.h"
#include "base/TaskGroup.h"
#include "counts/CoordinatorPollSession.h"
#include "counts/CountsPublisher.h"
#include "counts/PollWebView.h"
#include "counts/WorkdayPoller.h"
#include "credentials/KeychainStore.h"
#include "lock/GateController.h"
#include "notifications/NewTaskNotifier.h"
#include "platform/desktop/CountsBusObject.h"
#include "platform/desktop/DesktopExternalOpener.h"
#include "platform/desktop/DesktopNotifications.h"
#include "platform/desktop/DesktopScreenEvents.h"
#include "platform/desktop/DesktopSessionIdleTime.h"
#include "platform/desktop/FileChooserOpenPanel.h"
#include "platform/glib/GLibRunLoop.h"
#include "platform/network/GioNetworkPathMonitor.h"
#include "platform/secrets/LibsecretKeychain.h"
#include "platform/vision/LoadedPhotoFramer.h"
#include "platform/desktop/LogindWakeMonitor.h"
#include "platform/auth/PamAuthenticator.h"
#include "platform/auth/PolkitAuthenticator.h"
#include "platform/desktop/RecentFilesAnnouncer.h"
#include "platform/network/SoupRecordStore.h"
#include "platform/network/SoupUpdateFeed.h"
#include "platform/desktop/UnityLauncherEntry.h"
#include "platform/webkit/WebKitEngine.h"
#include "platform/webkit/WebKitView.h"
#include "platform/webkit/WebNotifications.h"
#include "roster/ContactExport.h"
#include "roster/CropSession.h"
#include "roster/RosterExporter.h"
#include "session/DownloadsFolder.h"
#include "session/NullCollaborators.h"
#include "session/OffScreenHost.h"
#include "session/WorkdayWebCoordinator.h"
#include "sync/CountsSync.h"
#include "sync/SyncServerAddress.h"
#include "ui/AboutWindow.h"
#include "ui/CountBubbles.h"
#include "ui/CropEditorWindow.h"
#include "ui/MainWindow.h"
#include "ui/PasswordDialog.h"
#include "ui/PreferencesWindow.h"
#include "ui/UpdateDialog.h"
#include "ui/WindowActivityMonitor.h"

#include <adwaita.h>
#include <glib-unix.h>
#include <string_view>

namespace halcyra {

namespace {

    constexpr const char* applicationID = "com.ashgrove.Halcyra";
    constexpr const char* desktopFileID = "com.ashgrove.Halcyra.desktop";
    constexpr const char* rosterPagePath = "/ashgrove/d/task/1422$2579.htmld";

    // The Downloads folder that xdg-user-dirs names, if any.
    std::optional<std::filesystem::path> desktopDownloadsFolder()
    {
        if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD))
            return std::filesystem::path(folder);
        return std::nullopt;
    }

}

// The poller is made before the counts sync it publishes to; this hands readings on once both
// exist, and to the notification of new tasks.
class ForwardingCountsPublisher final : public CountsPublisher {
public:
    explicit ForwardingCountsPublisher(NewTaskNotifier& taskNotifier)
        : m_taskNotifier(taskNotifier)
    {
    }
    void setSync(CountsSync* sync) { m_sync = sync; }
    void publish(const SyncedCounts& counts) override
    {
        m_taskNotifier.takeReading(counts);
        if (m_sync)
            m_sync->publish(counts);
    }

private:
    NewTaskNotifier& m_taskNotifier;
    CountsSync* m_sync { nullptr };
};

// Everything the application holds for its lifetime, in the order it is built.
struct Application::Services {
    // What the services ask of the application's window.
    struct WindowHooks {
        std::function<bool()> isMainWindowFocused;
        std::function<void()> presentMainWindow;
    };

    Services(const Configuration& configuration, RenderingChoice rendering, GApplication* application, WindowHooks window)
        : settings(FileSettingsStore::defaultPath(), runLoop)
        , keychainStore(keychain, settings)
        , webNotifications(application, std::move(window.presentMainWindow))
        , engine(configuration, engineOptions(configuration, rendering))
        , downloadsFolder(desktopDownloadsFolder(), g_get_home_dir())
        , offScreenHost(runLoop, settings)
        , pollSession(runLoop, keychainStore)
        , badgeSettings(settings)
        , badgeSink(g_application_get_dbus_connection(application), desktopFileID)
        , desktopNotifications(application)
        , taskNotifier({ runLoop, settings, std::move(window.isMainWindowFocused), [this](std::int64_t newTasks) { desktopNotifications.showNewTasks(newTasks); } })
        , countsPublisher(taskNotifier)
        , pollWebView(runLoop, engine, configuration.endpoints, pollSession)
        , poller(runLoop, settings, configuration.endpoints, pollSession, pollWebView, badgeSettings, badgeSink, countsPublisher)
        , passwordAuthenticator(passwordDialog)
        , authenticator(passwordAuthenticator)
        , lockController({ runLoop, windowActivity, sessionIdleTime, screenEvents })
        , rosterReader({ runLoop, configuration.endpoints.tenantHost, photoFramer, imageWork, cropSession })
        , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkMonitor, wakeMonitor,
              { poller, pollWebView, lockController, offScreenHost, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer })
        , countsSync(runLoop, settings, countsSyncEngineFactory(configuration.sync), [this](const SyncedCounts& counts) { adoptSyncedCounts(counts); })
        , countsBusObject(g_application_get_dbus_connection(application))
        , updateFeed(configuration.updateFeedURL.empty() ? nullptr : std::make_unique<SoupUpdateFeed>(configuration.updateFeedURL, configuration.proxyURL))
        , updater(updateFeed.get(), PROJECT_VERSION)
    {
        offScreenHost.setCoordinator(&coordinator);
        pollSession.setCoordinator(&coordinator);
        countsPublisher.setSync(&countsSync);
    }

    ~Services()
    {
        if (cropEditor)
            g_object_remove_weak_pointer(G_OBJECT(cropEditor), reinterpret_cast<gpointer*>(&cropEditor));
    }

    void adoptSyncedCounts(const SyncedCounts& counts)
    {
        poller.applySynced(counts);
        if (poller.lastUpdated() == counts.observedAt)
            taskNotifier.takeAdoptedReading(counts);
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
    DesktopNotifications desktopNotifications;
    NewTaskNotifier taskNotifier;
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
    // Course roster: the exporter that watches the main web view, the framing session it hands
    // the contacts to, and the worker threads that frame and render photos, one per core.
    LoadedPhotoFramer photoFramer;
    WorkerPool imageWork { runLoop, WorkerPool::coreCount(4) };
    CropSession cropSession { runLoop, [this](std::vector<CropContact> contacts, std::string title) {
                                 return exportContacts(std::move(contacts), std::move(title), { photoFramer, imageWork, downloadsFolder, downloadAnnouncer });
                             } };
    RosterExporter rosterReader;
    Connection cropEditorPresentation;
    // The open framing editor; cleared by GObject when the window goes.
    GtkWindow* cropEditor { nullptr };

    WorkdayWebCoordinator coordinator;
    std::unique_ptr<SoupRecordStore> syncStore;
    CountsSync countsSync;
    CountsBusObject countsBusObject;
    std::unique_ptr<SoupUpdateFeed> updateFeed;
    SoftwareUpdater updater;
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
    logLaunchStep("GTK ready");
    Services::WindowHooks window {
        [self] { return self->m_mainWindow && gtk_window_is_active(self->m_mainWindow->window()); },
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
    // The framing editor opens whenever the session is presented and closes itself after.
    services.cropEditorPresentation = services.cropSession.observeWillChange([self] {
        self->m_services->runLoop.dispatch([self] {
            auto& services = *self->m_services;
            if (!services.cropSession.isPresented() || services.cropEditor)
                return;
            services.cropEditor = CropEditorWindow::create(services.cropSession, services.lockController, GTK_APPLICATION(self->m_gtkApplication));
            g_object_add_weak_pointer(G_OBJECT(services.cropEditor), reinterpret_cast<gpointer*>(&services.cropEditor));
            // Adjusting photos is using Halcyra: it keeps the idle lock away as the main window does.
            services.windowActivity.watch(GTK_WIDGET(services.cropEditor));
            gtk_window_present(services.cropEditor);
        });
    });
    services.offScreenHost.startAfterLaunch([self] { return self->m_mainWindow != nullptr; });
    self->m_countsObservation = services.poller.observeWillChange([self] { self->schedulePublishCounts(); });
    self->publishCounts();

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
    auto* application = G_ACTION_MAP(m_gtkApplication);
    auto add = [&](const char* name, void (*handler)(GSimpleAction*, GVariant*, gpointer)) {
        GRefPtr<GSimpleAction> action = adoptGRef(g_simple_action_new(name, nullptr));
        g_signal_connect(action.get(), "activate", G_CALLBACK(handler), this);
        // Started by D-Bus for an action, the process's launch was that action's: the user's
        // next activation (the launcher) shows the window even when it is hidden on launch.
        g_signal_connect_swapped(action.get(), "activate", G_CALLBACK(+[](Application* self) { self->m_hasActivated = true; }), this);
        g_action_map_add_action(application, G_ACTION(action.get()));
        return action;
    };
    add(
        "quit", +[](GSimpleAction*, GVariant*, gpointer self) {
            auto* application = G_APPLICATION(static_cast<Application*>(self)->m_gtkApplication);
            g_application_release(application);
            g_application_quit(application);
        });
    add(
        "course-roster", +[](GSimpleAction*, GVariant*, gpointer self) { static_cast<Application*>(self)->showRosterPage(RosterRequest::showPage); });
    // A click on the new-tasks notification: the inbox, as from the task bubble.
    add(
        DesktopNotifications::openInboxAction, +[](GSimpleAction*, GVariant*, gpointer self) {
            auto* application = static_cast<Application*>(self);
            application->presentMainWindow();
            application->m_mainWindow->openInbox();
        });
    // A click on a notification of a Workday page: the window, and the page told of the click.
    GRefPtr<GSimpleAction> webNotificationClicked = adoptGRef(g_simple_action_new(WebNotifications::clickedAction, G_VARIANT_TYPE_UINT64));
    g_signal_connect(webNotificationClicked.get(), "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* id, gpointer self) {
        static_cast<Application*>(self)->m_services->webNotifications.clicked(g_variant_get_uint64(id));
    }),
        this);
    g_action_map_add_action(application, G_ACTION(webNotificationClicked.get()));
    add(
        "preferences", +[](GSimpleAction*, GVariant*, gpointer self) { static_cast<Application*>(self)->showPreferences(); });
    add(
        "about", +[](GSimpleAction*, GVariant*, gpointer self) { static_cast<Application*>(self)->showAbout(); });
    add(
        "lock", +[](GSimpleAction*, GVariant*, gpointer self) {
            auto& lockController = static_cast<Application*>(self)->m_services->lockController;
            if (!lockController.isLocked())
                lockController.toggle();
        });
    auto exportRoster = add(
        "export-roster", +[](GSimpleAction*, GVariant*, gpointer self) {
            static_cast<Application*>(self)->showRosterPage(RosterRequest::exportContacts);
        });
    // Disabled while an export runs; the exporter tells before it changes.
    m_rosterObservation = m_services->rosterReader.observeWillChange([this, action = exportRoster.get()] {
        m_services->runLoop.dispatch([this, action] { g_simple_action_set_enabled(action, !m_services->rosterReader.progress()); });
    });
    auto checkUpdates = add(
        "check-updates", +[](GSimpleAction*, GVariant*, gpointer self) { static_cast<Application*>(self)->checkForUpdates(); });
    auto updateEnabled = [this, action = checkUpdates.get()] {
        g_simple_action_set_enabled(action, m_services->updater.canCheckForUpdates());
    };
    updateEnabled();
    // The updater tells before it changes; the action follows once the change is made.
    m_updaterObservation = m_services->updater.observeCanCheckForUpdates([this, updateEnabled] { m_services->runLoop.dispatch(updateEnabled); });

    const char* quitAccelerators[] = { "<Control>q", nullptr };
    gtk_application_set_accels_for_action(GTK_APPLICATION(m_gtkApplication), "app.quit", quitAccelerators);
    const char* preferencesAccelerators[] = { "<Control>comma", nullptr };
    gtk_application_set_accels_for_action(GTK_APPLICATION(m_gtkApplication), "app.preferences", preferencesAccelerators);
    // Closing hides the window; the session goes on.
    const char* closeAccelerators[] = { "<Control>w", nullptr };
    gtk_application_set_accels_for_action(GTK_APPLICATION(m_gtkApplication), "window.close", closeAccelerators);
    const char* lockAccelerators[] = { "<Control>l", nullptr };
    gtk_application_set_accels_for_action(GTK_APPLICATION(m_gtkApplication), "app.lock", lockAccelerators);
}

GMenuModel* Application::primaryMenu()
{
    if (m_primaryMenu)
        return G_MENU_MODEL(m_primaryMenu.get());
    m_primaryMenu = adoptGRef(g_menu_new());
    GRefPtr<GMenu> academics = adoptGRef(g_menu_new());
    g_menu_append(academics.get(), _("Course Roster…"), "app.course-roster");
    g_menu_append(academics.get(), _("Export Roster Contacts…"), "app.export-roster");
    g_menu_append_section(m_primaryMenu.get(), _("Academics"), G_MENU_MODEL(academics.get()));
    GRefPtr<GMenu> application = adoptGRef(g_menu_new());
    g_menu_append(application.get(), _("Lock"), "app.lock");
    g_menu_append(application.get(), _("Preferences"), "app.preferences");
    g_menu_append_section(m_primaryMenu.get(), nullptr, G_MENU_MODEL(application.get()));
    // The update check comes right after About, both about the application itself.
    GRefPtr<GMenu> information = adoptGRef(g_menu_new());
    g_menu_append(information.get(), _("About Halcyra"), "app.about");
    g_menu_append(information.get(), _("Check for Updates…"), "app.check-updates");
    g_menu_append_section(m_primaryMenu.get(), nullptr, G_MENU_MODEL(information.get()));
    GRefPtr<GMenu> quit = adoptGRef(g_menu_new());
    g_menu_append(quit.get(), _("Quit"), "app.quit");
    g_menu_append_section(m_primaryMenu.get(), nullptr, G_MENU_MODEL(quit.get()));
    return G_MENU_MODEL(m_primaryMenu.get());
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
    MainWindowModels models { services.runLoop, services.settings, services.coordinator, services.poller, services.lockController,
        services.authenticator, services.windowActivity, services.wakeMonitor, services.rosterReader };
    m_mainWindow = std::make_unique<MainWindow>(GTK_APPLICATION(m_gtkApplication), webView, models, primaryMenu());
    m_mainWindow->present();
}

void Application::showRosterPage(RosterRequest request)
{
    presentMainWindow();
    m_mainWindow->performUnlocked([this, request] {
        auto& services = *m_services;
        if (request == RosterRequest::showPage)
            services.rosterReader.autoExportRequested.reset();
        services.coordinator.navigate("https://" + services.coordinator.endpoints().tenantHost + rosterPagePath);
        if (request == RosterRequest::exportContacts)
            services.rosterReader.autoExportRequested = services.runLoop.now();
    });
}

void Application::showPreferences()
{
    auto& services = *m_services;
    auto preference = [](std::string title, std::string help, std::function<bool()> value, std::function<void(bool)> setValue) {
        return PreferenceSwitch { std::move(title), std::move(help), std::move(value), std::move(setValue) };
    };
    PreferencesModel model;
    model.hideOnLaunch = preference(
        _("Hide window on launch"),
        _("When enabled, the window stays hidden on launch while Workday logs in behind the scenes. Click the Dock icon to bring the window back."),
        [&settings = services.settings] { return settings.boolean(OffScreenHost::hideOnLaunchKey).value_or(false); },
        [&settings = services.settings](bool value) { settings.setBoolean(OffScreenHost::hideOnLaunchKey, value); });
    model.notifyAboutNewTasks = preference(
        _("Notify about new tasks"),
        _("A desktop notification tells when new tasks arrive in your Workday inbox while Halcyra is in the background."),
        [&notifier = services.taskNotifier] { return notifier.isEnabled(); },
        [&settings = services.settings](bool value) { settings.setBoolean(NewTaskNotifier::enabledKey, value); });
    for (auto& component : badgeComponents()) {
        model.badgeSwitches.push_back(preference(
            _(component.title.c_str()), _(component.help.c_str()),
            [&badge = services.badgeSettings, field = component.keyPath] { return badge.value(field); },
            [&badge = services.badgeSettings, field = component.keyPath](bool value) { badge.setValue(field, value); }));
    }
    model.forgetSavedCredentials = [&services](std::function<void(bool)> done) {
        services.tasks.spawn([](KeychainStore& store, std::function<void(bool)> done) -> Task<void> {
            bool hasForgotten = true;
            try {
                co_await store.deleteCredentials();
            } catch (const DeletionError&) {
                hasForgotten = false;
            }
            done(hasForgotten);
        }(services.keychainStore, std::move(done)));
    };
    // One Settings window: asked again, the open one comes to the front.
    m_preferencesWindow.present([&] {
        auto* window = makePreferencesWindow(m_mainWindow ? m_mainWindow->window() : nullptr, std::move(model));
        if (!m_mainWindow)
            gtk_window_set_application(window, GTK_APPLICATION(m_gtkApplication));
        services.windowActivity.watch(GTK_WIDGET(window));
        return window;
    });
}

void Application::showAbout()
{
    m_aboutWindow.present([&] {
        auto* window = makeAboutWindow(m_mainWindow ? m_mainWindow->window() : nullptr, { PROJECT_VERSION, m_configuration.website });
        if (!m_mainWindow)
            gtk_window_set_application(window, GTK_APPLICATION(m_gtkApplication));
        return window;
    });
}

void Application::checkForUpdates()
{
    m_services->updater.checkForUpdates([this](const UpdateCheckResult& result) {
        presentUpdateCheckResult(m_mainWindow ? m_mainWindow->window() : nullptr, result, PROJECT_VERSION);
    });
}

// The poller tells before it changes; the bus shows the values once the change is made.
void Application::schedulePublishCounts()
{
    if (!std::exchange(m_isCountsPublicationPending, true))
        m_services->runLoop.dispatch([this] { publishCounts(); });
}

void Application::publishCounts()
{
    m_isCountsPublicationPending = false;
    auto& poller = m_services->poller;
    PublishedCounts published;
    auto add = [&](const char* key, const Count& count) {
        if (count)
            published.counts[key] = *count;
    };
    add("task", poller.outstandingCount());
    add("notification", poller.notificationCount());
    add("prepaid", poller.prepaidCount());
    add("draft", poller.draftCount());
    if (auto lastUpdated = poller.lastUpdated())
        published.lastUpdated = static_cast<std::int64_t>(secondsSince1970(*lastUpdated));
    published.state = pollStateName(poller.state().kind);
    auto kind = poller.state().kind;
    bool isIdleOrPolling = kind == PollState::Kind::idle || kind == PollState::Kind::polling;
    published.statusText = subtitleText(isIdleOrPolling, poller.lastUpdated(), m_services->runLoop.wallNow(), poller.statusText());
    m_services->countsBusObject.update(published);
}

}

#include "Application.h"

#include "base/FileSettingsStore.h"
#include "base/Log.h"
#include "base/TaskGroup.h"
#include "credentials/KeychainStore.h"
#include "platform/DesktopExternalOpener.h"
#include "platform/FileChooserOpenPanel.h"
#include "platform/GLibRunLoop.h"
#include "platform/GioNetworkPathMonitor.h"
#include "platform/LibsecretKeychain.h"
#include "platform/LogindWakeMonitor.h"
#include "platform/OpenCVPhotoFramer.h"
#include "platform/RecentFilesAnnouncer.h"
#include "platform/WebKitEngine.h"
#include "platform/WebKitView.h"
#include "roster/ContactExport.h"
#include "roster/CropSession.h"
#include "roster/RosterExporter.h"
#include "session/DownloadsFolder.h"
#include "session/NullCollaborators.h"
#include "session/OffScreenHost.h"
#include "session/WorkdayWebCoordinator.h"
#include "ui/CropEditorWindow.h"
#include "ui/MainWindow.h"

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

// Everything the application holds for its lifetime, in the order it is built.
struct Application::Services {
    explicit Services(const Configuration& configuration)
        : settings(FileSettingsStore::defaultPath(), runLoop)
        , keychainStore(keychain, settings)
        , engine(configuration, engineOptions())
        , downloadsFolder(userDownloadsFolder())
        , offScreenHost(runLoop, settings)
        , rosterReader({ runLoop, configuration.endpoints.tenantHost, photoFramer, imageWork, cropSession })
        , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkMonitor, wakeMonitor,
              { poller, pollBrowser, lockController, offScreenHost, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer })
    {
        offScreenHost.setCoordinator(&coordinator);
    }

    ~Services()
    {
        if (cropEditor)
            g_object_remove_weak_pointer(G_OBJECT(cropEditor), reinterpret_cast<gpointer*>(&cropEditor));
    }

    static WebKitEngineOptions engineOptions()
    {
        auto options = WebKitEngine::defaultOptions();
        options.scriptMessageHandlerNames = { "workdayAuth" };
        return options;
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
    NullCountsPoller poller;
    NullPollBrowser pollBrowser;
    NullLockController lockController;

    // Course roster: the exporter that watches the main web view, the framing session it hands
    // the contacts to, and the one worker thread that frames and renders photos one at a time.
    OpenCVPhotoFramer photoFramer;
    WorkerPool imageWork { runLoop, 1 };
    CropSession cropSession { runLoop, [this](std::vector<CropContact> contacts, std::string title) {
                                 return exportContacts(std::move(contacts), std::move(title), { photoFramer, imageWork, downloadsFolder, downloadAnnouncer });
                             } };
    RosterExporter rosterReader;
    Connection cropEditorPresentation;
    // The open framing editor; cleared by GObject when the window goes.
    GtkWindow* cropEditor { nullptr };

    WorkdayWebCoordinator coordinator;
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
    services.tasks.spawn([](KeychainStore& store) -> Task<void> { co_await store.deleteLegacyUsername(); }(services.keychainStore));
    // The framing editor opens whenever the session is presented and closes itself after.
    services.cropEditorPresentation = services.cropSession.observeWillChange([self] {
        self->m_services->runLoop.dispatch([self] {
            auto& services = *self->m_services;
            if (!services.cropSession.isPresented() || services.cropEditor)
                return;
            services.cropEditor = CropEditorWindow::create(services.cropSession, GTK_APPLICATION(self->m_gtkApplication));
            g_object_add_weak_pointer(G_OBJECT(services.cropEditor), reinterpret_cast<gpointer*>(&services.cropEditor));
            gtk_window_present(services.cropEditor);
        });
    });
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

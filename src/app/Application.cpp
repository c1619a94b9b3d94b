#include "Application.h"

#include "OffScreenHost.h"
#include "base/FileSettingsStore.h"
#include "base/Log.h"
#include "credentials/KeychainStore.h"
#include "platform/DesktopExternalOpener.h"
#include "platform/FileChooserOpenPanel.h"
#include "platform/GLibRunLoop.h"
#include "platform/GioNetworkPathMonitor.h"
#include "platform/LibsecretKeychain.h"
#include "platform/LogindWakeMonitor.h"
#include "platform/RecentFilesAnnouncer.h"
#include "platform/WebKitEngine.h"
#include "platform/WebKitView.h"
#include "session/DownloadsFolder.h"
#include "session/NullCollaborators.h"
#include "session/WorkdayWebCoordinator.h"

#include <adwaita.h>

namespace halcyra {

namespace {

    constexpr const char* applicationID = "com.ashgrove.Halcyra";
    constexpr const char* windowTitle = "Ashgrove Workday";
    constexpr int defaultWindowWidth = 800;
    constexpr int defaultWindowHeight = 900;

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
        : settings(FileSettingsStore::defaultPath())
        , keychainStore(keychain, settings)
        , engine(configuration, engineOptions())
        , downloadsFolder(userDownloadsFolder())
        , offScreenHost(runLoop, settings)
        , coordinator(runLoop, settings, configuration.endpoints, engine, keychainStore, networkMonitor, wakeMonitor,
              { poller, pollBrowser, lockController, offScreenHost, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer })
    {
        offScreenHost.setCoordinator(&coordinator);
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
    NullRosterReader rosterReader;
    WorkdayWebCoordinator coordinator;
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
    // Only the first instance sees "-HalcyraVerbose"; GApplication must not reject it.
    std::vector<char*> arguments { argv[0] };
    int status = g_application_run(G_APPLICATION(application), static_cast<int>(arguments.size()), arguments.data());
    (void)argc;
    m_services.reset();
    g_object_unref(application);
    return status;
}

void Application::startup(void* gtkApplication, Application* self)
{
    self->m_services = std::make_unique<Services>(self->m_configuration);
    auto& services = *self->m_services;
    services.keychainStore.deleteLegacyUsername();
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
    // With "hideOnLaunch" on, the launch itself shows no window; a later activation (the user
    // starting Halcyra again from the launcher) does.
    bool isLaunch = !std::exchange(self->m_hasActivated, true);
    if (isLaunch && self->m_services->settings.boolean("hideOnLaunch").value_or(false))
        return;
    self->presentMainWindow();
}

void Application::presentMainWindow()
{
    if (m_mainWindow) {
        gtk_window_present(GTK_WINDOW(m_mainWindow));
        return;
    }
    auto& services = *m_services;

    // The one main web view: the coordinator's, else the background host's, else a new one.
    // Taking it into the window ends its off-screen hosting.
    auto webView = services.coordinator.webViewForMainWindow();
    services.offScreenHost.endOffScreenHosting();

    auto* window = adw_application_window_new(GTK_APPLICATION(m_gtkApplication));
    gtk_window_set_title(GTK_WINDOW(window), windowTitle);
    gtk_window_set_default_size(GTK_WINDOW(window), defaultWindowWidth, defaultWindowHeight);
    gtk_window_set_hide_on_close(GTK_WINDOW(window), TRUE);
    auto* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    auto* header = adw_header_bar_new();
    adw_header_bar_set_title_widget(ADW_HEADER_BAR(header), adw_window_title_new(windowTitle, ""));
    gtk_box_append(GTK_BOX(content), header);
    auto* viewWidget = static_cast<WebKitView&>(*webView).widget();
    gtk_widget_set_vexpand(viewWidget, TRUE);
    gtk_widget_set_hexpand(viewWidget, TRUE);
    gtk_box_append(GTK_BOX(content), viewWidget);
    adw_application_window_set_content(ADW_APPLICATION_WINDOW(window), content);
    m_mainWindow = window;
    gtk_window_present(GTK_WINDOW(window));
}

}

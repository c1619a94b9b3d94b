#pragma once

#include "base/Signal.h"
#include "config/Configuration.h"
#include "platform/glib/GRefPtr.h"
#include "ui/SingleWindow.h"
#include "window/RenderingChoice.h"

#include <gio/gio.h>

#include <memory>

namespace halcyra {

class MainWindow;

// The GTK application: one instance per user session ("com.ashgrove.Halcyra"); a second launch
// presents the running instance's window. Wires the real services to the logic.
class Application {
public:
    Application(Configuration, RenderingChoice);
    ~Application();

    int run(int argc, char** argv);

private:
    struct Services;
    static void startup(void* application, Application*);
    static void activate(void* application, Application*);
    void installActions();
    GMenuModel* primaryMenu();
    void presentMainWindow();
    enum class RosterRequest { showPage,
        exportContacts };
    void showRosterPage(RosterRequest);
    void showPreferences();
    void showAbout();
    void checkForUpdates();

    Configuration m_configuration;
    RenderingChoice m_rendering;
    std::unique_ptr<Services> m_services;
    void* m_gtkApplication { nullptr };
    std::unique_ptr<MainWindow> m_mainWindow;
    bool m_hasActivated { false };
    GRefPtr<GMenu> m_primaryMenu;
    SingleWindow m_preferencesWindow;
    SingleWindow m_aboutWindow;
    Connection m_updaterObservation;
    Connection m_rosterObservation;
};

}

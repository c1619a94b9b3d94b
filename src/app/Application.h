#pragma once

#include "base/Signal.h"
#include "config/Configuration.h"
#include "platform/glib/GRefPtr.h"
#include "ui/SingleWindow.h"
#include "window/RenderingChoice.h"

#include <gtk/gtk.h>

#include <memory>

namespace halcyra {

class ApplicationActions;
class MainWindow;
enum class RosterVisit;

// The GTK application: one instance per user session ("com.ashgrove.Halcyra"); a second launch
// presents the running instance's window. Wires the real services to the logic and the windows.
class Application {
public:
    Application(Configuration, RenderingChoice);
    ~Application();

    int run(int argc, char** argv);

private:
    struct Services;
    static void startup(GtkApplication*, Application*);
    static void activate(GtkApplication*, Application*);
    void installActions();
    void presentMainWindow();
    GtkWindow* mainWindow() const;
    void showRosterPage(RosterVisit);

    Configuration m_configuration;
    RenderingChoice m_rendering;
    std::unique_ptr<Services> m_services;
    GRefPtr<GtkApplication> m_gtkApplication;
    std::unique_ptr<MainWindow> m_mainWindow;
    bool m_hasActivated { false };
    std::unique_ptr<ApplicationActions> m_actions;
    SingleWindow m_aboutWindow;
};

}

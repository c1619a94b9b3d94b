#pragma once

#include "config/Configuration.h"

#include <memory>

namespace halcyra {

class MainWindow;

// The GTK application: one instance per user session ("com.ashgrove.Halcyra"); a second launch
// presents the running instance's window. Wires the real services to the logic.
class Application {
public:
    explicit Application(Configuration);
    ~Application();

    int run(int argc, char** argv);

private:
    struct Services;
    static void startup(void* application, Application*);
    static void activate(void* application, Application*);
    void presentMainWindow();

    Configuration m_configuration;
    std::unique_ptr<Services> m_services;
    void* m_gtkApplication { nullptr };
    std::unique_ptr<MainWindow> m_mainWindow;
    bool m_hasActivated { false };
};

}

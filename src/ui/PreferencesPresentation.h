#pragma once

#include "base/TaskGroup.h"
#include "ui/PreferencesWindow.h"
#include "ui/SingleWindow.h"

namespace halcyra {

class BadgeSettings;
class KeychainStore;
class NewTaskNotifier;
class SettingsStore;
class WindowActivityMonitor;

// The Settings window as the application shows it: each switch bound to the setting that the
// service it configures reads, Forget Saved Credentials to the keychain, and one window at most.
class PreferencesPresentation {
public:
    struct Services {
        RunLoop& runLoop;
        SettingsStore& settings;
        NewTaskNotifier& taskNotifier;
        BadgeSettings& badgeSettings;
        KeychainStore& keychainStore;
        WindowActivityMonitor& windowActivity;
    };

    explicit PreferencesPresentation(Services);
    PreferencesPresentation(const PreferencesPresentation&) = delete;
    PreferencesPresentation& operator=(const PreferencesPresentation&) = delete;

    // Brings the open window to the front, or opens one over `parent` (the main window, if any).
    void present(GtkApplication*, GtkWindow* parent);

private:
    PreferencesModel model();

    Services m_services;
    SingleWindow m_window;
    TaskGroup m_tasks;
};

}

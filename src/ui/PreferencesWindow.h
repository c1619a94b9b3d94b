#pragma once

#include <functional>
#include <gtk/gtk.h>
#include <string>
#include <vector>

namespace halcyra {

// One switch of the Settings window, bound to a preference it reads and writes.
struct PreferenceSwitch {
    std::string title;
    std::string help;
    std::function<bool()> value;
    std::function<void(bool)> setValue;
};

struct PreferencesModel {
    PreferenceSwitch hideOnLaunch;
    PreferenceSwitch notifyAboutNewTasks;
    // One per badge component, in the components' order.
    std::vector<PreferenceSwitch> badgeSwitches;
    // Removes the saved sign-in; calls back with whether everything could be removed.
    std::function<void(std::function<void(bool)>)> forgetSavedCredentials;
};

// The Settings window: launch behaviour, notifications, which counts form the launcher badge,
// and forgetting the saved sign-in.
GtkWindow* makePreferencesWindow(GtkWindow* parent, PreferencesModel);

}

#pragma once

#include "base/Signal.h"

#include <cstdint>
#include <functional>
#include <gtk/gtk.h>

namespace halcyra {

class RosterExporter;
class RunLoop;
class SoftwareUpdater;

// The application's actions ("app.quit", "app.preferences", ...) as the menu, the keyboard, the
// notifications and the desktop over D-Bus activate them, and their shortcuts. Exporting the
// roster and checking for updates are enabled only while they can start.
class ApplicationActions {
public:
    // What each action does; showing windows is the application's business.
    struct Handlers {
        std::function<void()> quit;
        std::function<void()> showCourseRoster;
        std::function<void()> exportRosterContacts;
        std::function<void()> openInbox;
        std::function<void(std::uint64_t notificationID)> webNotificationClicked;
        std::function<void()> showPreferences;
        std::function<void()> showAbout;
        std::function<void()> lock;
        std::function<void()> checkForUpdates;
        // After any of the above but a click on a web notification.
        std::function<void()> didActivate;
    };

    ApplicationActions(GtkApplication*, RunLoop&, RosterExporter&, SoftwareUpdater&, Handlers);
    ApplicationActions(const ApplicationActions&) = delete;
    ApplicationActions& operator=(const ApplicationActions&) = delete;

private:
    GSimpleAction* add(const char* name, std::function<void()> handler);
    void followEnabledStates(GSimpleAction* exportRoster, GSimpleAction* checkUpdates);
    void installShortcuts();

    GtkApplication* m_application;
    RunLoop& m_runLoop;
    RosterExporter& m_rosterExporter;
    SoftwareUpdater& m_updater;
    std::function<void()> m_didActivate;
    Connection m_rosterObservation;
    Connection m_updaterObservation;
};

}

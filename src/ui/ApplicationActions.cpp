#include "ApplicationActions.h"

#include "base/RunLoop.h"
#include "platform/desktop/DesktopNotifications.h"
#include "platform/glib/GRefPtr.h"
#include "platform/webkit/WebNotifications.h"
#include "roster/RosterExporter.h"
#include "update/SoftwareUpdater.h"

namespace halcyra {

namespace {

    // Runs `handler` on every activation; the action owns it.
    template <typename Handler>
    void connectActivate(GSimpleAction* action, Handler handler)
    {
        g_signal_connect_data(
            action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* parameter, gpointer handler) { (*static_cast<Handler*>(handler))(parameter); }),
            new Handler(std::move(handler)), +[](gpointer handler, GClosure*) { delete static_cast<Handler*>(handler); }, GConnectFlags(0));
    }

    struct Shortcut {
        const char* action;
        const char* accelerator;
    };

    constexpr Shortcut shortcuts[] = {
        { "app.quit", "<Control>q" },
        { "app.preferences", "<Control>comma" },
        // Closing hides the window; the session goes on.
        { "window.close", "<Control>w" },
        { "app.lock", "<Control>l" },
    };

}

ApplicationActions::ApplicationActions(GtkApplication* application, RunLoop& runLoop, RosterExporter& rosterExporter, SoftwareUpdater& updater, Handlers handlers)
    : m_application(application)
    , m_runLoop(runLoop)
    , m_rosterExporter(rosterExporter)
    , m_updater(updater)
    , m_didActivate(std::move(handlers.didActivate))
{
    add("quit", std::move(handlers.quit));
    add("course-roster", std::move(handlers.showCourseRoster));
    // A click on the new-tasks notification: the inbox, as from the task bubble.
    add(DesktopNotifications::openInboxAction, std::move(handlers.openInbox));
    // A click on a notification of a Workday page: the window, and the page told of the click.
    GRefPtr<GSimpleAction> webNotificationClicked = adoptGRef(g_simple_action_new(WebNotifications::clickedAction, G_VARIANT_TYPE_UINT64));
    connectActivate(webNotificationClicked.get(), [clicked = std::move(handlers.webNotificationClicked)](GVariant* id) { clicked(g_variant_get_uint64(id)); });
    g_action_map_add_action(G_ACTION_MAP(m_application), G_ACTION(webNotificationClicked.get()));
    add("preferences", std::move(handlers.showPreferences));
    add("about", std::move(handlers.showAbout));
    add("lock", std::move(handlers.lock));
    auto* exportRoster = add("export-roster", std::move(handlers.exportRosterContacts));
    auto* checkUpdates = add("check-updates", std::move(handlers.checkForUpdates));
    followEnabledStates(exportRoster, checkUpdates);
    installShortcuts();
}

GSimpleAction* ApplicationActions::add(const char* name, std::function<void()> handler)
{
    GRefPtr<GSimpleAction> action = adoptGRef(g_simple_action_new(name, nullptr));
    // Started by D-Bus for an action, the process's launch was that action's: the application
    // hears of every activation so that the user's next one (the launcher) shows the window.
    connectActivate(action.get(), [handler = std::move(handler), didActivate = m_didActivate](GVariant*) {
        handler();
        didActivate();
    });
    g_action_map_add_action(G_ACTION_MAP(m_application), G_ACTION(action.get()));
    // The application's action map keeps the action as long as the application runs.
    return action.get();
}

void ApplicationActions::followEnabledStates(GSimpleAction* exportRoster, GSimpleAction* checkUpdates)
{
    // Disabled while an export runs. Both models tell before they change; the actions follow
    // once the change is made.
    m_rosterObservation = m_rosterExporter.observeWillChange([this, exportRoster] {
        m_runLoop.dispatch([this, exportRoster] { g_simple_action_set_enabled(exportRoster, !m_rosterExporter.progress()); });
    });
    auto updateEnabled = [this, checkUpdates] { g_simple_action_set_enabled(checkUpdates, m_updater.canCheckForUpdates()); };
    updateEnabled();
    m_updaterObservation = m_updater.observeCanCheckForUpdates([this, updateEnabled] { m_runLoop.dispatch(updateEnabled); });
}

void ApplicationActions::installShortcuts()
{
    for (auto& shortcut : shortcuts) {
        const char* accelerators[] = { shortcut.accelerator, nullptr };
        gtk_application_set_accels_for_action(m_application, shortcut.action, accelerators);
    }
}

}

#pragma once

#include "lock/ScreenEvents.h"
#include "platform/glib/GRefPtr.h"

#include <gio/gio.h>
#include <string>

namespace halcyra {

// Sleep and lock events of the desktop session: logind's PrepareForSleep, the session's Lock
// signal and LockedHint on the system bus, and the screensaver's ActiveChanged on the session
// bus. A bus that is missing simply gives no events.
class DesktopScreenEvents final : public ScreenEventSource {
public:
    DesktopScreenEvents();
    ~DesktopScreenEvents() override;
    DesktopScreenEvents(const DesktopScreenEvents&) = delete;
    DesktopScreenEvents& operator=(const DesktopScreenEvents&) = delete;

    [[nodiscard]] Connection observe(std::function<void(ScreenEvent)>) override;
    // The session's own object, once logind has named it.
    bool isFollowingSession() const { return !m_sessionPath.empty(); }

private:
    static void sessionFound(GObject*, GAsyncResult*, gpointer);
    static void signalArrived(GDBusConnection*, const char* sender, const char* path, const char* interface, const char* signal, GVariant* parameters, gpointer);
    guint subscribe(GDBusConnection*, const char* sender, const char* interface, const char* member, const char* path);

    GRefPtr<GDBusConnection> m_systemBus;
    GRefPtr<GDBusConnection> m_sessionBus;
    GRefPtr<GCancellable> m_cancellable;
    std::string m_sessionPath;
    std::vector<std::pair<GDBusConnection*, guint>> m_subscriptions;
    Signal<ScreenEvent> m_events;
};

}

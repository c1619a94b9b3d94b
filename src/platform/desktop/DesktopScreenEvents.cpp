#include "platform/desktop/DesktopScreenEvents.h"

#include "base/Log.h"

#include <cstdlib>
#include <cstring>

namespace halcyra {

namespace {

    constexpr const char* logindName = "org.freedesktop.login1";
    constexpr const char* logindPath = "/org/freedesktop/login1";
    constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
    constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

}

DesktopScreenEvents::DesktopScreenEvents()
    : m_cancellable(adoptGRef(g_cancellable_new()))
{
    m_systemBus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
    m_sessionBus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (m_systemBus) {
        subscribe(m_systemBus.get(), logindName, managerInterface, "PrepareForSleep", logindPath);
        // The session this process belongs to; its path is needed for its Lock signal. Without
        // XDG_SESSION_ID (started outside a login session) logind's "auto" picks the user's
        // graphical session.
        const char* sessionID = std::getenv("XDG_SESSION_ID");
        g_dbus_connection_call(m_systemBus.get(), logindName, logindPath, managerInterface, "GetSession", g_variant_new("(s)", sessionID && *sessionID ? sessionID : "auto"),
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, m_cancellable.get(), sessionFound, this);
    }
    if (m_sessionBus) {
        subscribe(m_sessionBus.get(), "org.freedesktop.ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", nullptr);
        subscribe(m_sessionBus.get(), "org.gnome.ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged", nullptr);
    }
}

DesktopScreenEvents::~DesktopScreenEvents()
{
    g_cancellable_cancel(m_cancellable.get());
    for (auto [bus, subscription] : m_subscriptions)
        g_dbus_connection_signal_unsubscribe(bus, subscription);
}

guint DesktopScreenEvents::subscribe(GDBusConnection* bus, const char* sender, const char* interface, const char* member, const char* path)
{
    auto subscription = g_dbus_connection_signal_subscribe(bus, sender, interface, member, path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, signalArrived, this, nullptr);
    m_subscriptions.emplace_back(bus, subscription);
    return subscription;
}

void DesktopScreenEvents::sessionFound(GObject* bus, GAsyncResult* result, gpointer data)
{
    GUniqueOutPtr<GError> error;
    auto reply = adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, error.outPtr()));
    if (!reply) {
        if (!g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
            logVerbose(std::string("[App] no logind session to follow: ") + error->message);
        return;
    }
    auto* self = static_cast<DesktopScreenEvents*>(data);
    const char* path = nullptr;
    g_variant_get(reply.get(), "(&o)", &path);
    self->m_sessionPath = path;
    self->subscribe(self->m_systemBus.get(), logindName, sessionInterface, "Lock", path);
    self->subscribe(self->m_systemBus.get(), logindName, "org.freedesktop.DBus.Properties", "PropertiesChanged", path);
}

void DesktopScreenEvents::signalArrived(GDBusConnection*, const char*, const char*, const char* interface, const char* signal, GVariant* parameters, gpointer data)
{
    auto* self = static_cast<DesktopScreenEvents*>(data);
    std::string_view name(signal);
    if (name == "PrepareForSleep" || name == "ActiveChanged") {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
            return;
        gboolean flag = FALSE;
        g_variant_get(parameters, "(b)", &flag);
        if (name == "PrepareForSleep")
            self->m_events.notify(flag ? ScreenEvent::screensSlept : ScreenEvent::screensWoke);
        else if (flag)
            self->m_events.notify(ScreenEvent::screenLocked);
        return;
    }
    if (name == "Lock") {
        self->m_events.notify(ScreenEvent::screenLocked);
        return;
    }
    if (name == "PropertiesChanged" && std::string_view(interface) == "org.freedesktop.DBus.Properties") {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
            return;
        const char* changedInterface = nullptr;
        GVariant* changed = nullptr;
        g_variant_get(parameters, "(&s@a{sv}@as)", &changedInterface, &changed, nullptr);
        auto ownedChanged = adoptGRef(changed);
        if (std::string_view(changedInterface) != sessionInterface)
            return;
        gboolean isLocked = FALSE;
        if (g_variant_lookup(changed, "LockedHint", "b", &isLocked) && isLocked)
            self->m_events.notify(ScreenEvent::screenLocked);
    }
}

Connection DesktopScreenEvents::observe(std::function<void(ScreenEvent)> observer)
{
    return m_events.connect(std::move(observer));
}

}

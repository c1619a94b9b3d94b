#include "DesktopSessionIdleTime.h"

namespace halcyra {

struct DesktopSessionIdleTime::Query {
    GRefPtr<GDBusConnection> bus;
    GRefPtr<GCancellable> cancellable;
    std::function<void(std::optional<Seconds>)> answer;
};

namespace {

    // Both interfaces count in milliseconds. Some ScreenSaver implementations answer a constant
    // 0 instead of failing; taken at its word that would keep the window unlocked for ever, so
    // 0 counts as no answer.
    std::optional<Seconds> idleTimeFrom(std::uint64_t milliseconds)
    {
        if (!milliseconds)
            return std::nullopt;
        return Seconds(static_cast<double>(milliseconds) / 1000.0);
    }

}

DesktopSessionIdleTime::DesktopSessionIdleTime()
    : m_sessionBus(adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)))
    , m_cancellable(adoptGRef(g_cancellable_new()))
{
}

DesktopSessionIdleTime::~DesktopSessionIdleTime()
{
    g_cancellable_cancel(m_cancellable.get());
}

void DesktopSessionIdleTime::query(std::function<void(std::optional<Seconds>)> answer)
{
    auto query = std::make_unique<Query>(Query { m_sessionBus, m_cancellable, std::move(answer) });
    if (!m_sessionBus) {
        auto* pending = query.release();
        g_idle_add_full(
            G_PRIORITY_DEFAULT, [](gpointer data) -> gboolean {
                std::unique_ptr<Query>(static_cast<Query*>(data))->answer(std::nullopt);
                return G_SOURCE_REMOVE;
            },
            pending, nullptr);
        return;
    }
    askMutter(std::move(query));
}

void DesktopSessionIdleTime::askMutter(std::unique_ptr<Query> query)
{
    auto* bus = query->bus.get();
    auto* cancellable = query->cancellable.get();
    g_dbus_connection_call(
        bus, "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor", "GetIdletime", nullptr,
        G_VARIANT_TYPE("(t)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, cancellable, [](GObject* bus, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Query> query(static_cast<Query*>(data));
            GUniqueOutPtr<GError> error;
            auto reply = adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, error.outPtr()));
            if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
                return;
            if (!reply) {
                askScreenSaver(std::move(query));
                return;
            }
            guint64 milliseconds = 0;
            g_variant_get(reply.get(), "(t)", &milliseconds);
            query->answer(idleTimeFrom(milliseconds));
        },
        query.release());
}

void DesktopSessionIdleTime::askScreenSaver(std::unique_ptr<Query> query)
{
    auto* bus = query->bus.get();
    auto* cancellable = query->cancellable.get();
    g_dbus_connection_call(
        bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "GetSessionIdleTime", nullptr,
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, cancellable, [](GObject* bus, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Query> query(static_cast<Query*>(data));
            GUniqueOutPtr<GError> error;
            auto reply = adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, error.outPtr()));
            if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
                return;
            guint32 milliseconds = 0;
            if (reply)
                g_variant_get(reply.get(), "(u)", &milliseconds);
            query->answer(reply ? idleTimeFrom(milliseconds) : std::nullopt);
        },
        query.release());
}

}

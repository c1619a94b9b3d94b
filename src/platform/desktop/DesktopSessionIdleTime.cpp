#include "platform/desktop/DesktopSessionIdleTime.h"

namespace halcyra {

struct DesktopSessionIdleTime::Query {
    GRefPtr<GDBusConnection> bus;
    GRefPtr<GCancellable> cancellable;
    std::function<void(std::optional<Seconds>)> answer;
    size_t serviceIndex { 0 };
};

namespace {

    struct IdleService {
        const char* name;
        const char* path;
        const char* method;
        const char* replyType;
    };

    // Asked in this order: GNOME's, then the freedesktop one (KDE and others).
    constexpr IdleService idleServices[] = {
        { "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "GetIdletime", "(t)" },
        { "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "GetSessionIdleTime", "(u)" },
    };

    // Both count in milliseconds, Mutter as `t`, ScreenSaver as `u`. Some ScreenSaver
    // implementations answer a constant 0 instead of failing; taken at its word that would keep
    // the window unlocked for ever, so 0 counts as no answer.
    std::optional<Seconds> idleTimeFrom(GVariant* reply)
    {
        GRefPtr<GVariant> value = adoptGRef(g_variant_get_child_value(reply, 0));
        auto milliseconds = g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT64) ? g_variant_get_uint64(value.get()) : g_variant_get_uint32(value.get());
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
    ask(std::move(query));
}

void DesktopSessionIdleTime::ask(std::unique_ptr<Query> query)
{
    if (query->serviceIndex >= std::size(idleServices)) {
        query->answer(std::nullopt);
        return;
    }
    auto& service = idleServices[query->serviceIndex];
    auto* bus = query->bus.get();
    auto* cancellable = query->cancellable.get();
    g_dbus_connection_call(
        bus, service.name, service.path, service.name, service.method, nullptr, G_VARIANT_TYPE(service.replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000,
        cancellable, [](GObject* bus, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Query> query(static_cast<Query*>(data));
            GUniqueOutPtr<GError> error;
            auto reply = adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, error.outPtr()));
            if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
                return;
            // A service that is not there, or answers with another type, passes to the next.
            if (reply) {
                query->answer(idleTimeFrom(reply.get()));
                return;
            }
            ++query->serviceIndex;
            ask(std::move(query));
        },
        query.release());
}

}

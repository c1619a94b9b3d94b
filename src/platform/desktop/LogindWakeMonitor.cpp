#include "platform/desktop/LogindWakeMonitor.h"

namespace halcyra {

LogindWakeMonitor::LogindWakeMonitor()
{
    // Connecting to a local socket is immediate, and a subscription in place before the
    // constructor returns cannot miss a wake that follows it.
    GUniqueOutPtr<GError> error;
    m_systemBus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, error.outPtr()));
    if (!m_systemBus)
        return;
    m_subscription = g_dbus_connection_signal_subscribe(m_systemBus.get(), "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep", "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, prepareForSleep, new std::shared_ptr<Signal<>>(m_woke),
        [](gpointer woke) { delete static_cast<std::shared_ptr<Signal<>>*>(woke); });
}

LogindWakeMonitor::~LogindWakeMonitor()
{
    if (m_subscription)
        g_dbus_connection_signal_unsubscribe(m_systemBus.get(), m_subscription);
}

void LogindWakeMonitor::prepareForSleep(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer woke)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
        return;
    gboolean isGoingToSleep = FALSE;
    g_variant_get(parameters, "(b)", &isGoingToSleep);
    if (isGoingToSleep)
        return;
    auto protectedWoke = *static_cast<std::shared_ptr<Signal<>>*>(woke);
    protectedWoke->notify();
}

Connection LogindWakeMonitor::observe(std::function<void()> observer)
{
    return m_woke->connect(std::move(observer));
}

}

#include "platform/network/GioNetworkPathMonitor.h"

#include <memory>

namespace halcyra {

GioNetworkPathMonitor::GioNetworkPathMonitor()
    : m_monitor(g_network_monitor_get_default())
{
    // GIO's NetworkManager monitor reports NetworkManager's own state changes only as a
    // property notification, never as "network-changed"; the netlink monitor reports route
    // changes through both. Observers may hear the same status twice.
    auto releaseSignal = [](gpointer signal, GClosure*) { delete static_cast<SharedSignal*>(signal); };
    m_changedHandler = g_signal_connect_data(m_monitor.get(), "network-changed", G_CALLBACK(networkChanged), new SharedSignal(m_changed), releaseSignal, G_CONNECT_DEFAULT);
    m_availabilityHandler = g_signal_connect_data(m_monitor.get(), "notify::network-available", G_CALLBACK(availabilityChanged), new SharedSignal(m_changed), releaseSignal, G_CONNECT_DEFAULT);
}

GioNetworkPathMonitor::~GioNetworkPathMonitor()
{
    g_signal_handler_disconnect(m_monitor.get(), m_changedHandler);
    g_signal_handler_disconnect(m_monitor.get(), m_availabilityHandler);
}

bool GioNetworkPathMonitor::isSatisfied() const
{
    return g_network_monitor_get_network_available(m_monitor.get());
}

void GioNetworkPathMonitor::networkChanged(GNetworkMonitor*, gboolean isAvailable, SharedSignal* changed)
{
    auto protectedChanged = *changed;
    protectedChanged->notify(isAvailable);
}

void GioNetworkPathMonitor::availabilityChanged(GNetworkMonitor* monitor, GParamSpec*, SharedSignal* changed)
{
    auto protectedChanged = *changed;
    protectedChanged->notify(g_network_monitor_get_network_available(monitor));
}

Connection GioNetworkPathMonitor::observe(std::function<void(bool isSatisfied)> observer)
{
    auto sharedObserver = std::make_shared<std::function<void(bool)>>(std::move(observer));
    auto changes = std::make_shared<Connection>(m_changed->connect([sharedObserver](bool isSatisfied) {
        (*sharedObserver)(isSatisfied);
    }));

    // The first status is read when the idle callback runs, not now, so that it is never older
    // than a change delivered before it. The source holds the GIO monitor itself, so it may
    // outlive this adapter.
    struct InitialStatus {
        std::shared_ptr<std::function<void(bool)>> observer;
        GRefPtr<GNetworkMonitor> monitor;
    };
    auto initial = adoptGRef(g_idle_source_new());
    g_source_set_callback(
        initial.get(),
        [](gpointer data) -> gboolean {
            auto* status = static_cast<InitialStatus*>(data);
            (*status->observer)(g_network_monitor_get_network_available(status->monitor.get()));
            return G_SOURCE_REMOVE;
        },
        new InitialStatus { sharedObserver, m_monitor },
        [](gpointer data) { delete static_cast<InitialStatus*>(data); });
    g_source_attach(initial.get(), g_main_context_get_thread_default());

    return Connection([changes, initial] {
        changes->disconnect();
        g_source_destroy(initial.get());
    });
}

}

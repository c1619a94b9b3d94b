#pragma once

#include "base/Signal.h"
#include "platform/glib/GRefPtr.h"
#include "session/Connectivity.h"

#include <gio/gio.h>
#include <memory>

namespace halcyra {

// The network path as GIO's network monitor sees it: NetworkManager's connectivity where it
// runs, the kernel's routing table otherwise. The path is satisfied while a network is
// available.
class GioNetworkPathMonitor final : public NetworkPathMonitor {
public:
    GioNetworkPathMonitor();
    ~GioNetworkPathMonitor() override;
    GioNetworkPathMonitor(const GioNetworkPathMonitor&) = delete;
    GioNetworkPathMonitor& operator=(const GioNetworkPathMonitor&) = delete;

    [[nodiscard]] Connection observe(std::function<void(bool isSatisfied)>) override;
    bool isSatisfied() const;

private:
    using SharedSignal = std::shared_ptr<Signal<bool>>;
    static void networkChanged(GNetworkMonitor*, gboolean isAvailable, SharedSignal*);
    static void availabilityChanged(GNetworkMonitor*, GParamSpec*, SharedSignal*);

    GRefPtr<GNetworkMonitor> m_monitor;
    gulong m_changedHandler { 0 };
    gulong m_availabilityHandler { 0 };
    // Shared with the signal handlers, so that an observer may destroy the adapter while it is
    // told.
    SharedSignal m_changed { std::make_shared<Signal<bool>>() };
};

}

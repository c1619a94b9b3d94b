#pragma once

#include "GRefPtr.h"
#include "base/Signal.h"
#include "session/Connectivity.h"

#include <gio/gio.h>

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
    static void networkChanged(GNetworkMonitor*, gboolean isAvailable, GioNetworkPathMonitor*);
    static void availabilityChanged(GNetworkMonitor*, GParamSpec*, GioNetworkPathMonitor*);

    GRefPtr<GNetworkMonitor> m_monitor;
    gulong m_changedHandler { 0 };
    gulong m_availabilityHandler { 0 };
    Signal<bool> m_changed;
};

}

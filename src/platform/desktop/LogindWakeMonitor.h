#pragma once

#include "base/Signal.h"
#include "platform/glib/GRefPtr.h"
#include "session/Connectivity.h"

#include <gio/gio.h>
#include <memory>

namespace halcyra {

// Wake-from-sleep events from logind: one for each PrepareForSleep(false) on the system bus.
// Without a system bus (a container, a minimal session) there are simply no events.
class LogindWakeMonitor final : public WakeMonitor {
public:
    LogindWakeMonitor();
    ~LogindWakeMonitor() override;
    LogindWakeMonitor(const LogindWakeMonitor&) = delete;
    LogindWakeMonitor& operator=(const LogindWakeMonitor&) = delete;

    [[nodiscard]] Connection observe(std::function<void()>) override;
    bool isListening() const { return m_subscription; }

private:
    static void prepareForSleep(GDBusConnection*, const char* sender, const char* path, const char* interface, const char* signal, GVariant* parameters, gpointer woke);

    GRefPtr<GDBusConnection> m_systemBus;
    guint m_subscription { 0 };
    // Shared with the subscription, so that an observer may destroy the monitor while it is told.
    std::shared_ptr<Signal<>> m_woke { std::make_shared<Signal<>>() };
};

}

#pragma once

#include "lock/ActivitySource.h"
#include "platform/glib/GRefPtr.h"

#include <gio/gio.h>

namespace halcyra {

// The session's idle time: GNOME's Mutter IdleMonitor, else the freedesktop ScreenSaver
// interface (KDE and others); neither answering means no answer.
class DesktopSessionIdleTime final : public SessionIdleTime {
public:
    DesktopSessionIdleTime();
    ~DesktopSessionIdleTime() override;
    DesktopSessionIdleTime(const DesktopSessionIdleTime&) = delete;
    DesktopSessionIdleTime& operator=(const DesktopSessionIdleTime&) = delete;

    void query(std::function<void(std::optional<Seconds>)>) override;

private:
    struct Query;
    // Asks the query's idle service, and the next one when it does not answer.
    static void ask(std::unique_ptr<Query>);

    GRefPtr<GDBusConnection> m_sessionBus;
    GRefPtr<GCancellable> m_cancellable;
};

}

#pragma once

#include "badge/BadgeSink.h"
#include "platform/glib/GRefPtr.h"

#include <cstdint>
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace halcyra {

// The launcher badge as docks show it (GNOME's Dash to Dock, KDE Plasma, Plank): the
// com.canonical.Unity.LauncherEntry "Update" signal for the application's desktop file.
class UnityLauncherEntry final : public BadgeSink {
public:
    // Without a connection (no session bus) the badge goes nowhere.
    UnityLauncherEntry(GDBusConnection*, std::string desktopFileID);

    // A count shows the badge; nothing hides it.
    void setBadgeCount(std::optional<std::int64_t>) override;

private:
    GRefPtr<GDBusConnection> m_connection;
    std::string m_applicationURI;
};

}

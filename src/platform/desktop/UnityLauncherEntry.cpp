#include "platform/desktop/UnityLauncherEntry.h"

#include "base/Log.h"

#include <gio/gio.h>

namespace halcyra {

namespace {

    constexpr const char* launcherEntryPath = "/com/ashgrove/Halcyra/LauncherEntry";

}

UnityLauncherEntry::UnityLauncherEntry(GDBusConnection* connection, std::string desktopFileID)
    : m_connection(connection)
    , m_applicationURI("application://" + desktopFileID)
{
}

void UnityLauncherEntry::setBadgeCount(std::optional<std::int64_t> count)
{
    if (!m_connection)
        return;
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(count.value_or(0)));
    g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(count.has_value()));
    GUniqueOutPtr<GError> error;
    if (!g_dbus_connection_emit_signal(m_connection.get(), nullptr, launcherEntryPath, "com.canonical.Unity.LauncherEntry", "Update",
            g_variant_new("(sa{sv})", m_applicationURI.c_str(), &properties), error.outPtr()))
        logVerbose(std::string("[App] launcher badge not sent: ") + error->message);
}

}

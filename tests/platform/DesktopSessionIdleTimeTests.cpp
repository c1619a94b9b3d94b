#include "ServiceTestSupport.h"
#include "platform/desktop/DesktopSessionIdleTime.h"

#include <gtest/gtest.h>
#include <memory>

using namespace halcyra;

namespace {

// A desktop's idle-time service on a connection of its own, answering with a fixed number of
// milliseconds; it leaves the bus with the object.
class IdleTimeService {
public:
    IdleTimeService(const char* name, const char* path, const char* method, GVariant* answer)
        : m_answer(adoptGRef(g_variant_ref_sink(answer)))
    {
        auto xml = std::string("<node><interface name='") + name + "'><method name='" + method + "'><arg direction='out' type='"
            + g_variant_get_type_string(m_answer.get()) + "'/></method></interface></node>";
        m_info.reset(g_dbus_node_info_new_for_xml(xml.c_str(), nullptr));
        m_connection = adoptGRef(g_dbus_connection_new_for_address_sync(g_getenv("DBUS_SESSION_BUS_ADDRESS"),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, nullptr));
        static const GDBusInterfaceVTable vtable = { +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, GDBusMethodInvocation* invocation, gpointer answer) {
                                                        g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(reinterpret_cast<GVariant**>(&answer), 1));
                                                    },
            nullptr, nullptr, {} };
        g_dbus_connection_register_object(m_connection.get(), path, m_info->interfaces[0], &vtable, m_answer.get(), nullptr, nullptr);
        auto owned = adoptGRef(g_dbus_connection_call_sync(m_connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", name, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
        EXPECT_TRUE(owned);
    }
    ~IdleTimeService() { g_dbus_connection_close_sync(m_connection.get(), nullptr, nullptr); }

private:
    GRefPtr<GVariant> m_answer;
    std::unique_ptr<GDBusNodeInfo, decltype(&g_dbus_node_info_unref)> m_info { nullptr, g_dbus_node_info_unref };
    GRefPtr<GDBusConnection> m_connection;
};

// The answer of a new query, once it came.
std::optional<Seconds> askIdleTime()
{
    DesktopSessionIdleTime idleTime;
    std::optional<std::optional<Seconds>> answer;
    idleTime.query([&](std::optional<Seconds> seconds) { answer = seconds; });
    EXPECT_TRUE(runMainLoopUntil([&] { return answer.has_value(); })) << "no answer";
    return answer.value_or(std::nullopt);
}

}

// GNOME's monitor answers first, the freedesktop screensaver where it is missing; a screensaver
// that answers 0 for ever, or no service at all, is no answer, so only local input counts.
TEST(DesktopSessionIdleTime, asksMutterThenTheScreenSaverAndTakesZeroForNoAnswer)
{
    EXPECT_EQ(askIdleTime(), std::nullopt);
    {
        IdleTimeService screenSaver("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "GetSessionIdleTime", g_variant_new_uint32(42'000));
        EXPECT_EQ(askIdleTime(), Seconds(42));
        IdleTimeService mutter("org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "GetIdletime", g_variant_new_uint64(1'500));
        EXPECT_EQ(askIdleTime(), Seconds(1.5));
    }
    IdleTimeService silentScreenSaver("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "GetSessionIdleTime", g_variant_new_uint32(0));
    EXPECT_EQ(askIdleTime(), std::nullopt);
}

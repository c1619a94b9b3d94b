#include "ServiceTestSupport.h"
#include "platform/desktop/UnityLauncherEntry.h"

#include <gtest/gtest.h>

using namespace halcyra;

// What a dock listening on the session bus receives.
TEST(LauncherEntry, dockReceivesTheCountAndItsVisibility)
{
    GRefPtr<GDBusConnection> bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    ASSERT_TRUE(bus) << "run under tests/platform/run-with-services";
    std::vector<std::string> updates;
    auto subscription = g_dbus_connection_signal_subscribe(
        bus.get(), nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
            const char* uri = nullptr;
            GVariant* properties = nullptr;
            g_variant_get(parameters, "(&s@a{sv})", &uri, &properties);
            gint64 count = -1;
            gboolean isVisible = false;
            g_variant_lookup(properties, "count", "x", &count);
            g_variant_lookup(properties, "count-visible", "b", &isVisible);
            g_variant_unref(properties);
            static_cast<std::vector<std::string>*>(data)->push_back(std::string(uri) + " " + std::to_string(count) + (isVisible ? " shown" : " hidden"));
        },
        &updates, nullptr);

    UnityLauncherEntry entry(bus.get(), "com.ashgrove.Halcyra.desktop");
    entry.setBadgeCount(7);
    entry.setBadgeCount(std::nullopt);
    EXPECT_TRUE(runMainLoopUntil([&] { return updates.size() == 2; }));
    EXPECT_EQ(updates, (std::vector<std::string> { "application://com.ashgrove.Halcyra.desktop 7 shown", "application://com.ashgrove.Halcyra.desktop 0 hidden" }));
    g_dbus_connection_signal_unsubscribe(bus.get(), subscription);
}

#include "ServiceTestSupport.h"
#include "platform/desktop/CountsBusObject.h"
#include "platform/desktop/UnityLauncherEntry.h"

#include <gtest/gtest.h>

using namespace halcyra;

// Collects the printed parameter `child` of each signal that matches, until it goes.
struct SignalLog {
    SignalLog(GDBusConnection* connection, const char* sender, const char* interface, const char* member, const char* path, int child)
        : connection(connection)
        , child(child)
    {
        subscription = g_dbus_connection_signal_subscribe(
            connection, sender, interface, member, path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
                auto* log = static_cast<SignalLog*>(data);
                GRefPtr<GVariant> value = adoptGRef(log->child < 0 ? g_variant_ref(parameters) : g_variant_get_child_value(parameters, log->child));
                GUniquePtr<char> text(g_variant_print(value.get(), FALSE));
                log->lines.push_back(text.get());
            },
            this, nullptr);
    }
    ~SignalLog() { g_dbus_connection_signal_unsubscribe(connection, subscription); }

    GDBusConnection* connection;
    int child;
    unsigned subscription { 0 };
    std::vector<std::string> lines;
};

// A panel widget's view: it reads the properties from another connection and follows
// PropertiesChanged.
TEST(CountsBusObject, readersSeeThePropertiesAndEveryChange)
{
    GRefPtr<GDBusConnection> service = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    ASSERT_TRUE(service) << "run under tests/platform/run-with-services";
    GRefPtr<GDBusConnection> reader = adoptGRef(g_dbus_connection_new_for_address_sync(g_getenv("DBUS_SESSION_BUS_ADDRESS"),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, nullptr));
    ASSERT_TRUE(reader);

    CountsBusObject object(service.get());
    SignalLog changes(reader.get(), g_dbus_connection_get_unique_name(service.get()), "org.freedesktop.DBus.Properties", "PropertiesChanged", "/com/ashgrove/Halcyra", 1);

    auto readAll = [&] {
        std::optional<std::string> properties;
        g_dbus_connection_call(
            reader.get(), g_dbus_connection_get_unique_name(service.get()), "/com/ashgrove/Halcyra", "org.freedesktop.DBus.Properties",
            "GetAll", g_variant_new("(s)", "com.ashgrove.Halcyra.Counts"), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            +[](GObject* connection, GAsyncResult* result, gpointer data) {
                GRefPtr<GVariant> reply = adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), result, nullptr));
                GUniquePtr<char> text(reply ? g_variant_print(reply.get(), FALSE) : g_strdup("no reply"));
                *static_cast<std::optional<std::string>*>(data) = text.get();
            },
            &properties);
        EXPECT_TRUE(runMainLoopUntil([&] { return properties.has_value(); }));
        return properties.value_or("");
    };
    // The bus has the reader's match rule once a later call of the reader's is answered.
    readAll();

    CountsReading reading { .task = 3, .draft = 0, .lastUpdated = wallTimeFromSecondsSince1970(1'800'000'000.4), .state = PollState::polling() };
    object.update(reading, "Updated just now");
    EXPECT_EQ(readAll(), "({'Counts': <{'draft': int64 0, 'task': 3}>, 'LastUpdated': <int64 1800000000>, 'State': <'polling'>, 'StatusText': <'Updated just now'>},)");

    // A change of nothing published (here the busy state) sends nothing.
    reading.isBusy = true;
    object.update(reading, "Updated just now");
    object.update({ .lastUpdated = reading.lastUpdated, .state = PollState::notSignedIn() }, "Not signed in");
    ASSERT_TRUE(runMainLoopUntil([&] { return changes.lines.size() >= 2; }));
    EXPECT_EQ(changes.lines, (std::vector<std::string> { "{'Counts': <{'draft': int64 0, 'task': 3}>, 'LastUpdated': <int64 1800000000>, 'State': <'polling'>, 'StatusText': <'Updated just now'>}", "{'Counts': <@a{sx} {}>, 'State': <'notSignedIn'>, 'StatusText': <'Not signed in'>}" }));
}

TEST(LauncherEntry, dockReceivesTheCountAndItsVisibility)
{
    GRefPtr<GDBusConnection> bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    ASSERT_TRUE(bus) << "run under tests/platform/run-with-services";
    SignalLog updates(bus.get(), nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, -1);
    UnityLauncherEntry entry(bus.get(), "com.ashgrove.Halcyra.desktop");
    entry.setBadgeCount(7);
    entry.setBadgeCount(std::nullopt);
    EXPECT_TRUE(runMainLoopUntil([&] { return updates.lines.size() == 2; }));
    EXPECT_EQ(updates.lines, (std::vector<std::string> { "('application://com.ashgrove.Halcyra.desktop', {'count': <int64 7>, 'count-visible': <true>})", "('application://com.ashgrove.Halcyra.desktop', {'count': <int64 0>, 'count-visible': <false>})" }));
}

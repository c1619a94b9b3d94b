#include "ServiceTestSupport.h"
#include "platform/desktop/CountsBusObject.h"

#include <gtest/gtest.h>

using namespace halcyra;

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
    std::vector<std::string> changes;
    auto subscription = g_dbus_connection_signal_subscribe(
        reader.get(), g_dbus_connection_get_unique_name(service.get()), "org.freedesktop.DBus.Properties",
        "PropertiesChanged", "/com/ashgrove/Halcyra", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
            GRefPtr<GVariant> changed = adoptGRef(g_variant_get_child_value(parameters, 1));
            GUniquePtr<char> text(g_variant_print(changed.get(), FALSE));
            static_cast<std::vector<std::string>*>(data)->push_back(text.get());
        },
        &changes, nullptr);

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

    // A change of nothing published (the busy state, another failure message) sends nothing.
    reading.isBusy = true;
    object.update(reading, "Updated just now");
    object.update({ .lastUpdated = reading.lastUpdated, .state = PollState::notSignedIn() }, "Not signed in");
    ASSERT_TRUE(runMainLoopUntil([&] { return changes.size() >= 2; }));
    EXPECT_EQ(changes, (std::vector<std::string> { "{'Counts': <{'draft': int64 0, 'task': 3}>, 'LastUpdated': <int64 1800000000>, 'State': <'polling'>, 'StatusText': <'Updated just now'>}", "{'Counts': <@a{sx} {}>, 'State': <'notSignedIn'>, 'StatusText': <'Not signed in'>}" }));
    g_dbus_connection_signal_unsubscribe(reader.get(), subscription);
}

#include "platform/desktop/CountsBusObject.h"

#include "base/Log.h"

#include <gio/gio.h>

namespace halcyra {

namespace {

    constexpr const char* countsObjectPath = "/com/ashgrove/Halcyra";
    constexpr const char* interfaceName = "com.ashgrove.Halcyra.Counts";
    constexpr const char* introspection = R"(<node>
  <interface name="com.ashgrove.Halcyra.Counts">
    <property name="Counts" type="a{sx}" access="read"/>
    <property name="LastUpdated" type="x" access="read"/>
    <property name="State" type="s" access="read"/>
    <property name="StatusText" type="s" access="read"/>
  </interface>
</node>)";

    std::int64_t lastUpdatedSeconds(const CountsReading& reading)
    {
        return reading.lastUpdated ? static_cast<std::int64_t>(secondsSince1970(*reading.lastUpdated)) : 0;
    }

    bool haveSameCounts(const CountsReading& a, const CountsReading& b)
    {
        return a.task == b.task && a.notification == b.notification && a.prepaid == b.prepaid && a.draft == b.draft;
    }

    GDBusInterfaceInfo* interfaceInfo()
    {
        static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, nullptr);
        return node->interfaces[0];
    }

}

CountsBusObject::CountsBusObject(GDBusConnection* connection)
    : m_connection(connection)
{
    if (!m_connection)
        return;
    static const GDBusInterfaceVTable vtable = { nullptr, property, nullptr, { nullptr } };
    GUniqueOutPtr<GError> error;
    m_registrationID = g_dbus_connection_register_object(m_connection.get(), countsObjectPath, interfaceInfo(), &vtable, this, nullptr, error.outPtr());
    if (!m_registrationID)
        logVerbose(std::string("[App] counts not published on D-Bus: ") + error->message);
}

CountsBusObject::~CountsBusObject()
{
    if (m_registrationID)
        g_dbus_connection_unregister_object(m_connection.get(), m_registrationID);
}

GVariant* CountsBusObject::property(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**, gpointer data)
{
    return static_cast<CountsBusObject*>(data)->propertyValue(name);
}

GVariant* CountsBusObject::propertyValue(const std::string& name) const
{
    if (name == "Counts") {
        GVariantBuilder counts;
        g_variant_builder_init(&counts, G_VARIANT_TYPE("a{sx}"));
        // In the order of their keys, as a map would list them.
        for (auto [kind, count] : { std::pair("draft", m_reading.draft), std::pair("notification", m_reading.notification), std::pair("prepaid", m_reading.prepaid), std::pair("task", m_reading.task) }) {
            if (count)
                g_variant_builder_add(&counts, "{sx}", kind, static_cast<gint64>(*count));
        }
        return g_variant_builder_end(&counts);
    }
    if (name == "LastUpdated")
        return g_variant_new_int64(lastUpdatedSeconds(m_reading));
    if (name == "State")
        return g_variant_new_string(pollStateName(m_reading.state.kind));
    if (name == "StatusText")
        return g_variant_new_string(m_statusText.c_str());
    return nullptr;
}

void CountsBusObject::update(const CountsReading& reading, const std::string& statusText)
{
    auto previous = std::exchange(m_reading, reading);
    auto previousStatusText = std::exchange(m_statusText, statusText);
    bool hasCountsChange = !haveSameCounts(previous, reading);
    bool hasLastUpdatedChange = lastUpdatedSeconds(previous) != lastUpdatedSeconds(reading);
    bool hasStateChange = previous.state.kind != reading.state.kind;
    bool hasStatusTextChange = previousStatusText != statusText;
    if (!m_registrationID || !(hasCountsChange || hasLastUpdatedChange || hasStateChange || hasStatusTextChange))
        return;
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    auto addIfChanged = [&](const char* name, bool hasChanged) {
        if (hasChanged)
            g_variant_builder_add(&changed, "{sv}", name, propertyValue(name));
    };
    addIfChanged("Counts", hasCountsChange);
    addIfChanged("LastUpdated", hasLastUpdatedChange);
    addIfChanged("State", hasStateChange);
    addIfChanged("StatusText", hasStatusTextChange);
    g_dbus_connection_emit_signal(m_connection.get(), nullptr, countsObjectPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
        g_variant_new("(sa{sv}as)", interfaceName, &changed, nullptr), nullptr);
}

}

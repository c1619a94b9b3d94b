#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

namespace halcyra {

GRefPtr<GVariant> callBus(GBusType busType, const char* destination, const char* path, const char* interface, const char* method, GVariant* arguments)
{
    auto ownedArguments = adoptGRef(arguments);
    GUniqueOutPtr<GError> error;
    auto bus = adoptGRef(g_bus_get_sync(busType, nullptr, error.outPtr()));
    if (!bus) {
        ADD_FAILURE() << error->message;
        return nullptr;
    }
    auto reply = adoptGRef(g_dbus_connection_call_sync(bus.get(), destination, path, interface, method, ownedArguments.get(), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
    EXPECT_TRUE(reply) << method << ": " << error->message;
    return reply;
}

SessionBusService::SessionBusService(const char* name, const char* path, const std::string& interfaceXML, Handler handler)
    : m_handler(std::move(handler))
{
    GUniqueOutPtr<GError> error;
    auto failed = [&](bool succeeded) {
        if (!succeeded)
            ADD_FAILURE() << error->message;
        return !succeeded;
    };
    m_connection = adoptGRef(g_dbus_connection_new_for_address_sync(g_getenv("DBUS_SESSION_BUS_ADDRESS"),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, error.outPtr()));
    if (failed(m_connection.get()))
        return;
    if (!interfaceXML.empty()) {
        m_info = g_dbus_node_info_new_for_xml(("<node>" + interfaceXML + "</node>").c_str(), error.outPtr());
        if (failed(m_info))
            return;
        static const GDBusInterfaceVTable vtable { [](GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant*, GDBusMethodInvocation* invocation, gpointer service) {
                                                      static_cast<SessionBusService*>(service)->m_handler(method, invocation);
                                                  },
            nullptr, nullptr, {} };
        if (failed(g_dbus_connection_register_object(m_connection.get(), path, m_info->interfaces[0], &vtable, this, nullptr, error.outPtr())))
            return;
    }
    auto owned = adoptGRef(g_dbus_connection_call_sync(m_connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", name, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
    failed(owned.get());
}

SessionBusService::~SessionBusService()
{
    if (m_connection)
        g_dbus_connection_close_sync(m_connection.get(), nullptr, nullptr);
    if (m_info)
        g_dbus_node_info_unref(m_info);
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input)
{
    std::vector<char*> arguments;
    for (auto& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);

    GUniqueOutPtr<GError> error;
    auto launcher = adoptGRef(g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
    auto process = adoptGRef(g_subprocess_launcher_spawnv(launcher.get(), arguments.data(), error.outPtr()));
    if (!process)
        return { -1, error->message };
    GUniqueOutPtr<char> output;
    if (!g_subprocess_communicate_utf8(process.get(), input.c_str(), nullptr, output.outPtr(), nullptr, error.outPtr()))
        return { -1, error->message };
    return { g_subprocess_get_exit_status(process.get()), output ? output.get() : "" };
}

}

#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

namespace halcyra {

void callSystemBus(const char* destination, const char* path, const char* interface, const char* method, GVariant* arguments)
{
    auto ownedArguments = adoptGRef(arguments);
    GUniqueOutPtr<GError> error;
    auto bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, error.outPtr()));
    ASSERT_TRUE(bus) << error->message;
    auto reply = adoptGRef(g_dbus_connection_call_sync(bus.get(), destination, path, interface, method, ownedArguments.get(), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
    ASSERT_TRUE(reply) << method << ": " << error->message;
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

#pragma once

#include "platform/glib/GRefPtr.h"
#include "support/MainLoopWait.h"

#include <functional>
#include <gio/gio.h>
#include <string>
#include <vector>

namespace halcyra {

// Calls a method on the bus run-with-services started; the reply, or null after a failure that
// names the method.
GRefPtr<GVariant> callBus(GBusType, const char* destination, const char* path, const char* interface, const char* method, GVariant* arguments = nullptr);
inline GRefPtr<GVariant> callSystemBus(const char* destination, const char* path, const char* interface, const char* method, GVariant* arguments = nullptr)
{
    return callBus(G_BUS_TYPE_SYSTEM, destination, path, interface, method, arguments);
}

// A desktop service of the test's own on a session-bus connection of its own: owns `name`,
// serves one interface (`interfaceXML`, may be empty) at `path` through `handler`, and leaves the
// bus with the object.
class SessionBusService {
public:
    using Handler = std::function<void(const char* method, GDBusMethodInvocation*)>;
    SessionBusService(const char* name, const char* path, const std::string& interfaceXML, Handler);
    ~SessionBusService();
    SessionBusService(const SessionBusService&) = delete;
    SessionBusService& operator=(const SessionBusService&) = delete;
    GDBusConnection* connection() const { return m_connection.get(); }

private:
    Handler m_handler;
    GRefPtr<GDBusConnection> m_connection;
    GDBusNodeInfo* m_info { nullptr };
};

struct CommandResult {
    int exitStatus { -1 };
    std::string output;
};
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input = {});

}

#pragma once

#include "platform/glib/GRefPtr.h"
#include "support/MainLoopWait.h"

#include <gio/gio.h>
#include <string>
#include <vector>

namespace halcyra {

// Calls a method of a mock service on the system bus started by run-with-services.
void callSystemBus(const char* destination, const char* path, const char* interface, const char* method, GVariant* arguments);

struct CommandResult {
    int exitStatus { -1 };
    std::string output;
};
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input = {});

}

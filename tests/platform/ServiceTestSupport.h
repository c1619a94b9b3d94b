#pragma once

#include "platform/GRefPtr.h"

#include <chrono>
#include <functional>
#include <gio/gio.h>
#include <string>
#include <vector>

namespace halcyra {

// Runs the default main context until `condition` holds or `timeout` passes; tells whether it
// held. Only D-Bus round trips are waited for this way, never application timers.
bool runLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Runs the default main context for a short while, so that an event that should not come has
// had the chance to arrive.
void runLoopFor(std::chrono::milliseconds);

// Calls a method of a mock service on the system bus started by run-with-services.
void callSystemBus(const char* destination, const char* path, const char* interface, const char* method, GVariant* arguments);

struct CommandResult {
    int exitStatus { -1 };
    std::string output;
};
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input = {});

}

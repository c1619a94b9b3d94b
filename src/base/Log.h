#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace halcyra {

// Diagnostic logging is on when any process argument, the program path included, is exactly
// "-HalcyraVerbose". The arguments are read once, on first use.
bool isVerboseLoggingEnabled();
bool argumentsRequestVerboseLogging(const std::vector<std::string>& arguments);

// Writes one diagnostic line ("[Area] text") to standard output when verbose logging is on.
void logVerbose(std::string_view line);

// With verbose logging on, writes "[Launch] S s STEP": the seconds since the process started, the
// first time each step happens, so that the launch benchmark can tell where the time goes.
void logLaunchStep(std::string_view step);

// Lines that a user or administrator must see whatever the flag says (bad configuration,
// unreadable settings) go to standard error.
void logError(std::string_view line);

// Tests route diagnostic lines to `sink` (and turn them on); an empty function restores stdout.
void setVerboseLogSinkForTesting(std::function<void(std::string_view)> sink);

}

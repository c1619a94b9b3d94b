#include "Log.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <unistd.h>

namespace halcyra {

namespace {

    std::function<void(std::string_view)>& testSink()
    {
        static std::function<void(std::string_view)> sink;
        return sink;
    }

    std::vector<std::string> processArguments()
    {
        // The argument list of this process, as the kernel recorded it at exec.
        std::ifstream file("/proc/self/cmdline", std::ios::binary);
        std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<std::string> arguments;
        std::string::size_type start = 0;
        while (start < contents.size()) {
            auto end = contents.find('\0', start);
            if (end == std::string::npos)
                end = contents.size();
            arguments.emplace_back(contents.substr(start, end - start));
            start = end + 1;
        }
        return arguments;
    }

    void writeLine(std::FILE* stream, std::string_view line)
    {
        std::string text(line);
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    }

}

bool argumentsRequestVerboseLogging(const std::vector<std::string>& arguments)
{
    return std::ranges::find(arguments, "-HalcyraVerbose") != arguments.end();
}

bool isVerboseLoggingEnabled()
{
    static const bool isEnabled = argumentsRequestVerboseLogging(processArguments());
    return isEnabled || testSink();
}

void logVerbose(std::string_view line)
{
    if (auto& sink = testSink()) {
        sink(line);
        return;
    }
    if (isVerboseLoggingEnabled())
        writeLine(stdout, line);
}

void logLaunchStep(std::string_view step)
{
    // The trace is for the launch benchmark; once a step is logged it never is again in the
    // process, so lines captured by tests would depend on which test ran first.
    if (!isVerboseLoggingEnabled() || testSink())
        return;
    static std::set<std::string, std::less<>> loggedSteps;
    if (loggedSteps.contains(step))
        return;
    loggedSteps.emplace(step);
    // The process's start, in clock ticks since boot (the 22nd field of its stat line), against
    // the boot-time clock now.
    std::ifstream file("/proc/self/stat");
    std::string line;
    std::getline(file, line);
    unsigned long long startTicks = 0;
    if (auto close = line.rfind(')'); close != std::string::npos) {
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        for (int index = 3; index < 22 && fields >> field; ++index) { }
        fields >> startTicks;
    }
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    double seconds = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - static_cast<double>(startTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    logVerbose(std::string("[Launch] ") + text + " s " + std::string(step));
}

void logError(std::string_view line)
{
    writeLine(stderr, line);
}

void setVerboseLogSinkForTesting(std::function<void(std::string_view)> sink)
{
    testSink() = std::move(sink);
}

}

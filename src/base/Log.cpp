#include "Log.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

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

void logError(std::string_view line)
{
    writeLine(stderr, line);
}

void setVerboseLogSinkForTesting(std::function<void(std::string_view)> sink)
{
    testSink() = std::move(sink);
}

}

#include "app/Configuration.h"
#include "base/Log.h"

#include <cstdio>

int main(int, char**)
{
    using namespace halcyra;
    auto file = configurationFilePath();
    auto result = loadConfiguration(file);
    if (!result.configuration) {
        logError("Halcyra: " + result.error);
        return 2;
    }
    logVerbose("[App] configuration loaded from " + file.string());
    std::puts("Halcyra: the application window is not built yet.");
    return 0;
}

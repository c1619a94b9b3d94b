#include "app/Application.h"
#include "base/Log.h"
#include "config/Configuration.h"

int main(int argc, char** argv)
{
    using namespace halcyra;
    auto file = configurationFilePath();
    auto result = loadConfiguration(file);
    if (!result.configuration) {
        logError("Halcyra: " + result.error);
        return 2;
    }
    logVerbose("[App] configuration: " + file.string());
    Application application(std::move(*result.configuration));
    return application.run(argc, argv);
}

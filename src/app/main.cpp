#include "app/Application.h"
#include "app/Configuration.h"
#include "base/Log.h"

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

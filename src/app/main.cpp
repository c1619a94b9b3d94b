#include "app/Application.h"
#include "base/InstallPrefix.h"
#include "base/Localization.h"
#include "base/Log.h"
#include "config/Configuration.h"

#include <clocale>

int main(int argc, char** argv)
{
    using namespace halcyra;
    setlocale(LC_ALL, "");
    bindtextdomain("halcyra", (installPrefix() / "share" / "locale").c_str());
    bind_textdomain_codeset("halcyra", "UTF-8");
    textdomain("halcyra");
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

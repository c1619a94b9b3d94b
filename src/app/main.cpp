#include "app/Application.h"
#include "app/RenderingChoice.h"
#include "base/Localization.h"
#include "base/Log.h"
#include "config/Configuration.h"
#include "platform/RenderingProbe.h"

#include <clocale>

int main(int argc, char** argv)
{
    using namespace halcyra;
    logLaunchStep("main entered");
    setlocale(LC_ALL, "");
    bindtextdomain("halcyra", HALCYRA_LOCALE_DIR);
    bind_textdomain_codeset("halcyra", "UTF-8");
    textdomain("halcyra");
    auto file = configurationFilePath();
    auto result = loadConfiguration(file);
    if (!result.configuration) {
        logError("Halcyra: " + result.error);
        return 2;
    }
    logVerbose("[App] configuration: " + file.string());
    // Before GTK starts, while this is the only thread: the choice goes into the environment.
    auto driverName = probeEGLDriverName();
    auto rendering = chooseRendering(driverName);
    applyWindowRendering(rendering.drawsWindowWithGL);
    logLaunchStep("rendering chosen");
    logVerbose("[App] GL driver: " + driverName.value_or("unknown") + (rendering.compositesPages ? "; pages composite" : "; drawing without GL"));
    Application application(std::move(*result.configuration), rendering);
    return application.run(argc, argv);
}

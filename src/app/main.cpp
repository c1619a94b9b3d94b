#include "app/Application.h"
#include "base/FileSettingsStore.h"
#include "base/InstallPrefix.h"
#include "base/Localization.h"
#include "base/Log.h"
#include "config/Configuration.h"
#include "platform/webkit/RenderingProbe.h"
#include "window/RenderingChoice.h"

#include <clocale>

int main(int argc, char** argv)
{
    using namespace halcyra;
    logLaunchStep("main entered");
    setlocale(LC_ALL, "");
    bindtextdomain("halcyra", (installPrefix() / "share" / "locale").c_str());
    bind_textdomain_codeset("halcyra", "UTF-8");
    textdomain("halcyra");
    // The settings hold the sign-in brakes; a folder shared with other users is no place for them.
    if (FileSettingsStore::defaultPath().empty()) {
        logError("Halcyra: neither HOME nor XDG_CONFIG_HOME is set, so there is no folder of this user's own for the settings; set HOME and start Halcyra again.");
        return 2;
    }
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

#include "FuzzTarget.h"
#include "base/FileSettingsStore.h"
#include "support/VirtualRunLoop.h"

#include <fstream>
#include <unistd.h>

using namespace halcyra;

// Any file where the settings file should be: a JSON object is read whole and survives a write
// of another value; anything else leaves the store empty.
HALCYRA_FUZZ_TARGET(settingsFile)
{
    static const auto folder = std::filesystem::temp_directory_path() / ("halcyra-fuzz-settings-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    auto path = folder / "defaults.json";
    std::ofstream(path, std::ios::binary) << input;

    auto parsed = nlohmann::json::parse(input, nullptr, false);
    bool isSettings = !parsed.is_discarded() && parsed.is_object();
    VirtualRunLoop loop;
    {
        FileSettingsStore store(path, loop);
        fuzz::check(store.allValues() == (isSettings ? parsed : nlohmann::json::object()), "a settings object is read whole, anything else not at all");
        store.setValue("fuzzMarker", 1);
    }
    FileSettingsStore reread(path, loop);
    if (isSettings)
        parsed["fuzzMarker"] = 1;
    else
        parsed = { { "fuzzMarker", 1 } };
    fuzz::check(reread.allValues() == parsed, "a written store reads back the same");
    std::filesystem::remove_all(folder);
}

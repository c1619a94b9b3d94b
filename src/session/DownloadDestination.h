#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace halcyra {

class DownloadsFolder;

// A file in the Downloads folder for a file that a server suggested a name for, never
// overwriting what is there: "report.xlsx", else "report (1).xlsx", "report (2).xlsx", ...
// Whatever the suggested name holds, the file lies directly in the Downloads folder. Nothing
// when there is no Downloads folder.
std::optional<std::filesystem::path> uniqueDownloadDestination(const DownloadsFolder&, std::string_view suggestedName);

// The file name a suggested name is saved under: its last path component, made safe.
std::string downloadFileName(std::string_view suggestedName);

}

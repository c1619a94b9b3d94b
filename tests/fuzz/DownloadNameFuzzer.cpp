#include "FuzzTarget.h"
#include "session/DownloadDestination.h"
#include "session/DownloadsFolder.h"

using namespace halcyra;

namespace {

// The first few names asked for are taken, so that the numbered names are tried too.
struct CrowdedDownloadsFolder final : DownloadsFolder {
    std::optional<std::filesystem::path> location() const override { return "/home/jdoe/Downloads"; }
    bool fileExists(const std::filesystem::path&) const override { return ++asked <= 3; }
    mutable int asked { 0 };
};

}

// Whatever a server suggests, the file is a plain name directly in the Downloads folder.
HALCYRA_FUZZ_TARGET(downloadName)
{
    auto name = downloadFileName(input);
    fuzz::check(!name.empty() && name != "." && name != "..", "a download has a name of its own");
    fuzz::check(name.find('/') == std::string::npos && name.find('\0') == std::string::npos, "a download name is one path component");
    CrowdedDownloadsFolder folder;
    auto destination = uniqueDownloadDestination(folder, input);
    fuzz::check(destination && destination->parent_path() == *folder.location(), "a download lies directly in the Downloads folder");
    fuzz::check(destination->filename().string().size() <= 255, "a file system takes the name");
}

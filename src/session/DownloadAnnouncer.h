#pragma once

#include <filesystem>

namespace halcyra {

// Tells the desktop that a file has arrived in the Downloads folder, as browsers do, so that
// it shows up among the recent files.
class DownloadAnnouncer {
public:
    virtual ~DownloadAnnouncer() = default;
    virtual void announceFinishedDownload(const std::filesystem::path&) = 0;
};

}

#pragma once

#include "session/DownloadAnnouncer.h"

namespace halcyra {

// Adds each finished download to the desktop's recently used files, where file choosers and
// the shell's recent lists show it.
class RecentFilesAnnouncer final : public DownloadAnnouncer {
public:
    void announceFinishedDownload(const std::filesystem::path&) override;
};

}

#pragma once

#include "session/WebEngine.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace halcyra {

class DownloadAnnouncer;
class DownloadsFolder;

// Saves the files that Workday pages offer straight into the Downloads folder, without a
// dialog and without overwriting anything, and announces each finished file to the desktop.
class DownloadController {
public:
    DownloadController(DownloadsFolder&, DownloadAnnouncer&);

    // Attachments, and anything the view cannot show, become downloads.
    NavigationResponsePolicy responsePolicy(const NavigationResponse&) const;

    std::optional<std::filesystem::path> decideDestination(Download&, const std::string& suggestedFilename);
    void downloadDidFinish(Download&);
    void downloadDidFail(Download&, const WebError&);

private:
    DownloadsFolder& m_downloadsFolder;
    DownloadAnnouncer& m_announcer;
    // By download identity, from the destination decision to the end of the download.
    std::map<const Download*, std::filesystem::path> m_downloadDestinations;
};

}

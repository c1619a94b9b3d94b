#pragma once

#include "CropContact.h"
#include "PhotoFramer.h"
#include "base/Task.h"
#include "base/WorkerPool.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

class DownloadAnnouncer;
class DownloadsFolder;

struct ContactExportServices {
    PhotoFramer& framer;
    // The image workers; the export renders its photos on them one after another.
    WorkerPool& imageWork;
    const DownloadsFolder& downloadsFolder;
    DownloadAnnouncer& announcer;
};

// "<title> Roster.vcf", with "/" and ":" in the title replaced by "-".
std::string rosterFileName(const std::string& title);

// Writes the contacts as one vCard file into the Downloads folder under a name no other file
// has, each photo cut to its crop, and announces the file. Gives the file written, or the
// description of the failure; a failed write leaves no file behind.
struct ContactExportResult {
    std::optional<std::filesystem::path> file;
    std::string failure;
};
Task<ContactExportResult> exportContacts(std::vector<CropContact> contacts, std::string title, ContactExportServices);

// Creates `path` with `contents`, never replacing a file that is there. The file appears under
// its name only once it is complete. Gives an error text on failure, with nothing left behind.
std::string writeNewFile(const std::filesystem::path&, std::string_view contents);

}

#include "ContactExport.h"

#include "ExportError.h"
#include "VCard.h"
#include "base/Log.h"
#include "session/DownloadAnnouncer.h"
#include "session/DownloadDestination.h"
#include "session/DownloadsFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halcyra {

std::string rosterFileName(const std::string& title)
{
    // A file name holds 255 bytes and a course code can be as long as a table cell: the title
    // keeps at most 200, cut between characters, which leaves room for " Roster (10000).vcf".
    constexpr std::size_t maximumTitleBytes = 200;
    auto end = std::min(title.size(), maximumTitleBytes);
    while (end < title.size() && end > 0 && (static_cast<unsigned char>(title[end]) & 0xc0) == 0x80)
        --end;
    std::string name = title.substr(0, end);
    for (auto& character : name) {
        if (character == '/' || character == ':')
            character = '-';
    }
    return name + " Roster.vcf";
}

namespace {

    // The mode a new file gets from open(2): read and write as the user's umask allows. mkostemp
    // makes its file 0600 whatever the umask, and the umask cannot be read without setting it
    // (which races other threads), so it is taken from the kernel's view of this process.
    mode_t newFileMode()
    {
        std::FILE* status = std::fopen("/proc/self/status", "re");
        if (!status)
            return 0600;
        char line[256];
        unsigned mask = 077;
        while (std::fgets(line, sizeof(line), status)) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        }
        std::fclose(status);
        return 0666 & ~mask;
    }

}

std::string writeNewFile(const std::filesystem::path& path, std::string_view contents)
{
    // Written beside the destination under a hidden name, then moved to its name without
    // replacing anything: a reader never finds a half-written roster under the real name.
    auto temporary = path.parent_path() / ("." + path.filename().string() + ".XXXXXX");
    std::string pattern = temporary.string();
    int descriptor = mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0)
        return std::string("Couldn't create a file in ") + path.parent_path().string() + ": " + std::strerror(errno);

    auto fail = [&](const char* what) {
        std::string message = std::string(what) + " " + path.string() + ": " + std::strerror(errno);
        if (descriptor >= 0)
            close(descriptor);
        unlink(pattern.c_str());
        return message;
    };
    for (std::size_t written = 0; written < contents.size();) {
        auto result = write(descriptor, contents.data() + written, contents.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return fail("Couldn't write");
        written += result;
    }
    if (fchmod(descriptor, newFileMode()) != 0 || fsync(descriptor) != 0)
        return fail("Couldn't write");
    auto closed = close(descriptor);
    descriptor = -1;
    if (closed != 0)
        return fail("Couldn't write");
    if (renameat2(AT_FDCWD, pattern.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    // Some file systems cannot rename without replacing; a hard link never replaces either.
    if (errno != EINVAL || link(pattern.c_str(), path.c_str()) != 0)
        return fail("Couldn't save");
    unlink(pattern.c_str());
    return {};
}

Task<ContactExportResult> exportContacts(std::vector<CropContact> contacts, std::string title, ContactExportServices services)
{
    PhotoMap photos;
    for (std::size_t i = 0; i < contacts.size(); ++i) {
        if (!contacts[i].original)
            continue;
        auto original = std::make_shared<const std::string>(*contacts[i].original);
        auto crop = contacts[i].crop;
        auto& framer = services.framer;
        std::function<std::optional<std::string>()> render = [&framer, original, crop] {
            return framer.cropJPEG(*original, crop);
        };
        // Named, not temporary: GCC 12 destroys some temporaries of a co_await expression twice.
        auto rendering = services.imageWork.run(std::move(render));
        std::optional<std::optional<std::string>> jpeg;
        try {
            jpeg = co_await rendering;
        } catch (const std::exception& exception) {
            logVerbose(std::string("[Roster] photo left out: ") + exception.what());
            jpeg.emplace();
        }
        if (!jpeg)
            co_return ContactExportResult { std::nullopt, "The export was cancelled." };
        if (*jpeg)
            photos.emplace(i, std::move(**jpeg));
    }

    std::vector<Student> students;
    students.reserve(contacts.size());
    for (auto& contact : contacts)
        students.push_back(contact.student);
    std::function<std::string()> build = [students = std::move(students), photos] {
        return vCardData(students, photos);
    };
    auto building = services.imageWork.run(std::move(build));
    std::optional<std::string> data;
    try {
        data = co_await building;
    } catch (const std::exception&) {
        co_return ContactExportResult { std::nullopt, "Couldn't write " + rosterFileName(title) + ": " + std::strerror(ENOMEM) };
    }
    if (!data)
        co_return ContactExportResult { std::nullopt, "The export was cancelled." };

    auto destination = uniqueDownloadDestination(services.downloadsFolder, rosterFileName(title));
    if (!destination) {
        bool hasFolder = services.downloadsFolder.location().has_value();
        co_return ContactExportResult { std::nullopt, description(hasFolder ? ExportError::noFreeName : ExportError::noDownloadsFolder) };
    }

    if (auto error = writeNewFile(*destination, *data); !error.empty())
        co_return ContactExportResult { std::nullopt, error };

    std::error_code ignored;
    auto resolved = std::filesystem::canonical(*destination, ignored);
    services.announcer.announceFinishedDownload(resolved.empty() ? *destination : resolved);
    logVerbose("[Roster] exported " + std::to_string(contacts.size()) + " contacts, " + std::to_string(photos.size()) + " with photos");
    co_return ContactExportResult { *destination, {} };
}

}

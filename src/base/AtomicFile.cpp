#include "AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace halcyra {

namespace {

    std::string systemError(std::string_view what)
    {
        return std::string(what) + ": " + std::strerror(errno);
    }

    bool writeAll(int fd, std::string_view contents)
    {
        while (!contents.empty()) {
            auto written = ::write(fd, contents.data(), contents.size());
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            contents.remove_prefix(static_cast<size_t>(written));
        }
        return true;
    }

}

std::string writeFileAtomically(const std::filesystem::path& path, std::string_view contents)
{
    auto folder = path.parent_path();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return "cannot create " + folder.string() + ": " + error.message();

    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return systemError("cannot create a temporary file in " + folder.string());

    bool isWritten = writeAll(fd, contents) && ::fsync(fd) == 0;
    std::string failure = isWritten ? std::string() : systemError("cannot write " + temporary);
    if (::close(fd) != 0 && failure.empty())
        failure = systemError("cannot close " + temporary);
    if (failure.empty() && ::rename(temporary.c_str(), path.c_str()) != 0)
        failure = systemError("cannot replace " + path.string());
    if (!failure.empty()) {
        ::unlink(temporary.c_str());
        return failure;
    }

    // The rename itself is durable only once the folder is synced.
    int folderFD = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (folderFD >= 0) {
        ::fsync(folderFD);
        ::close(folderFD);
    }
    return {};
}

}

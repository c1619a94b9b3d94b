#include "FileSettingsStore.h"

#include "AtomicFile.h"
#include "Log.h"
#include "UserFolders.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace halcyra {

namespace {

    std::string timestampForFileName()
    {
        auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        std::tm utc {};
        gmtime_r(&now, &utc);
        char text[32];
        std::strftime(text, sizeof(text), "%Y%m%dT%H%M%SZ", &utc);
        return text;
    }

}

FileSettingsStore::FileSettingsStore(std::filesystem::path path, RunLoop& loop)
    : m_path(std::move(path))
    , m_loop(loop)
{
    load();
}

FileSettingsStore::~FileSettingsStore()
{
    flush();
}

std::filesystem::path FileSettingsStore::defaultPath()
{
    auto configHome = userConfigFolder();
    if (configHome.empty())
        return {};
    return configHome / "halcyra" / "defaults.json";
}

void FileSettingsStore::load()
{
    auto contents = readContents();
    if (!contents)
        return;
    auto parsed = nlohmann::json::parse(*contents, nullptr, false);
    if (parsed.is_discarded()) {
        moveAside("it is not valid JSON");
        return;
    }
    if (!parsed.is_object()) {
        moveAside("it does not hold a JSON object");
        return;
    }
    m_values = std::move(parsed);
}

std::optional<std::string> FileSettingsStore::readContents()
{
    // Only a file that is not there reads as no settings. Any other failure (permissions, an I/O
    // error) leaves settings in the file that a write would replace with less.
    auto keepUnread = [this] {
        logError("Halcyra: cannot read the settings file " + m_path.string() + " (" + std::strerror(errno) + "); keeping it unchanged, and settings will not be saved this session.");
        m_path.clear();
        return std::nullopt;
    };
    int descriptor = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        return keepUnread();
    }
    std::string contents;
    char buffer[16384];
    while (true) {
        auto count = ::read(descriptor, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            auto error = errno;
            ::close(descriptor);
            errno = error;
            return keepUnread();
        }
        if (!count)
            break;
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(descriptor);
    return contents;
}

void FileSettingsStore::moveAside(const std::string& reason)
{
    auto aside = m_path;
    aside += ".corrupt-" + timestampForFileName();
    std::error_code error;
    std::filesystem::rename(m_path, aside, error);
    if (error) {
        logError("Halcyra: cannot read the settings file " + m_path.string() + " (" + reason + ") and cannot move it aside (" + error.message() + "); settings will not be saved this session.");
        // Keep the unreadable file: writing would overwrite it with less.
        m_path.clear();
        return;
    }
    logError("Halcyra: cannot read the settings file " + m_path.string() + " (" + reason + "); moved it to " + aside.string() + " and started with empty settings.");
}

void FileSettingsStore::valuesDidChange()
{
    if (m_pendingWrite)
        return;
    m_pendingWrite = m_loop.schedule(Seconds(0), [this] {
        m_pendingWrite.reset();
        write();
    });
}

void FileSettingsStore::flush()
{
    if (auto pending = std::exchange(m_pendingWrite, std::nullopt)) {
        m_loop.cancel(*pending);
        write();
    }
}

void FileSettingsStore::write()
{
    if (m_path.empty())
        return;
    auto failure = writeFileAtomically(m_path, m_values.dump(2) + "\n");
    if (!failure.empty())
        logError("Halcyra: cannot save settings: " + failure);
}

}

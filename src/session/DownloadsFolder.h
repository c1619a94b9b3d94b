#pragma once

#include <filesystem>
#include <optional>

namespace halcyra {

// Where downloaded files go, and what is already there.
class DownloadsFolder {
public:
    virtual ~DownloadsFolder() = default;
    // The user's Downloads directory; nothing when the desktop names none.
    virtual std::optional<std::filesystem::path> location() const = 0;
    virtual bool fileExists(const std::filesystem::path&) const = 0;
};

// Whether a file is at `path`. A dangling symbolic link counts as taken: writing through it
// would create a file wherever it points. A path that cannot be examined counts as taken too.
inline bool isPathTaken(const std::filesystem::path& path)
{
    std::error_code error;
    auto status = std::filesystem::symlink_status(path, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return false;
    return status.type() != std::filesystem::file_type::none || error;
}

// A Downloads folder at a known place on the local file system.
class LocalDownloadsFolder final : public DownloadsFolder {
public:
    explicit LocalDownloadsFolder(std::optional<std::filesystem::path> location)
        : m_location(std::move(location))
    {
    }

    std::optional<std::filesystem::path> location() const override { return m_location; }
    bool fileExists(const std::filesystem::path& path) const override { return isPathTaken(path); }

private:
    std::optional<std::filesystem::path> m_location;
};

// The user's Downloads folder as browsers on Linux find it: the folder the desktop names
// (xdg-user-dirs), else ~/Downloads. Many minimal installs have no xdg-user-dirs, and a desktop
// folder equal to the home folder means the user turned it off. The folder is made when a
// download needs it and it is missing; nothing when it cannot be made.
class UserDownloadsFolder final : public DownloadsFolder {
public:
    UserDownloadsFolder(std::optional<std::filesystem::path> desktopFolder, std::filesystem::path home)
        : m_desktopFolder(std::move(desktopFolder))
        , m_home(std::move(home))
    {
    }

    std::optional<std::filesystem::path> location() const override
    {
        auto folder = m_home / "Downloads";
        if (m_desktopFolder && m_desktopFolder->is_absolute() && !isSameFolder(*m_desktopFolder, m_home))
            folder = *m_desktopFolder;
        else if (!m_home.is_absolute())
            return std::nullopt;
        std::error_code error;
        if (std::filesystem::is_directory(folder, error))
            return folder;
        std::filesystem::create_directories(folder, error);
        if (error || !std::filesystem::is_directory(folder, error))
            return std::nullopt;
        return folder;
    }
    bool fileExists(const std::filesystem::path& path) const override { return isPathTaken(path); }

private:
    static bool isSameFolder(const std::filesystem::path& a, const std::filesystem::path& b)
    {
        std::error_code error;
        return a.lexically_normal() == b.lexically_normal() || std::filesystem::equivalent(a, b, error);
    }

    std::optional<std::filesystem::path> m_desktopFolder;
    std::filesystem::path m_home;
};

}

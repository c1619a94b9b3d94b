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

// A Downloads folder at a known place on the local file system.
class LocalDownloadsFolder final : public DownloadsFolder {
public:
    explicit LocalDownloadsFolder(std::optional<std::filesystem::path> location)
        : m_location(std::move(location))
    {
    }

    std::optional<std::filesystem::path> location() const override { return m_location; }
    bool fileExists(const std::filesystem::path& path) const override
    {
        // A dangling symbolic link counts as taken: writing through it would create a file
        // wherever it points. A path that cannot be examined counts as taken too.
        std::error_code error;
        auto status = std::filesystem::symlink_status(path, error);
        if (status.type() == std::filesystem::file_type::not_found)
            return false;
        return status.type() != std::filesystem::file_type::none || error;
    }

private:
    std::optional<std::filesystem::path> m_location;
};

}

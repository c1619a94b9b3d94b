#include "DownloadDestination.h"

#include "DownloadsFolder.h"

#include <string>

namespace halcyra {

namespace {

    constexpr std::string_view fallbackFileName = "Download";
    // A folder in which this many names are taken is not one to keep counting in.
    constexpr int maximumCounter = 10000;
    // File systems take names of at most 255 bytes; this leaves room for " (10000)".
    constexpr size_t maximumNameBytes = 240;
    // A longer "extension" is part of the name, not a type to keep.
    constexpr size_t maximumExtensionBytes = 16;

    // At most `size` bytes from the start of `text`, never cutting a UTF-8 character (of at most
    // four bytes); bytes that are no UTF-8 are cut anywhere.
    std::string utf8Prefix(const std::string& text, size_t size)
    {
        if (text.size() <= size)
            return text;
        auto isContinuation = [&](size_t index) { return (static_cast<unsigned char>(text[index]) & 0xC0) == 0x80; };
        for (size_t end = size; end + 3 >= size && end > 0; --end) {
            if (!isContinuation(end))
                return text.substr(0, end);
        }
        return text.substr(0, size);
    }

    // A name the file system refuses would fail the download: long names are shortened, keeping
    // their extension.
    std::string shortened(const std::string& name)
    {
        if (name.size() <= maximumNameBytes)
            return name;
        auto dot = name.rfind('.');
        std::string extension;
        if (dot != std::string::npos && dot > 0 && name.size() - dot <= maximumExtensionBytes)
            extension = name.substr(dot);
        auto base = extension.empty() ? name : name.substr(0, dot);
        return utf8Prefix(base, maximumNameBytes - extension.size()) + extension;
    }

}

std::string downloadFileName(std::string_view suggestedName)
{
    std::string name(suggestedName);
    // Control characters (NUL above all) have no place in a file name and could cut it short
    // further down.
    for (auto& character : name) {
        if (static_cast<unsigned char>(character) < 0x20 || character == 0x7f)
            character = '_';
    }

    // Servers may send directory parts, in either separator style; only the last component
    // is kept.
    constexpr std::string_view separators = "/\\";
    auto end = name.find_last_not_of(separators);
    if (end == std::string::npos)
        return std::string(fallbackFileName);
    name.erase(end + 1);
    auto start = name.find_last_of(separators);
    if (start != std::string::npos)
        name.erase(0, start + 1);

    if (name.empty() || name == "." || name == "..")
        return std::string(fallbackFileName);
    return shortened(name);
}

std::optional<std::filesystem::path> uniqueDownloadDestination(const DownloadsFolder& folder, std::string_view suggestedName)
{
    auto location = folder.location();
    if (!location)
        return std::nullopt;

    auto name = downloadFileName(suggestedName);

    std::string baseName = name;
    std::string extension;
    auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
        baseName = name.substr(0, dot);
        extension = name.substr(dot + 1);
    }

    auto candidate = *location / name;
    if (!folder.fileExists(candidate))
        return candidate;

    for (int counter = 1; counter <= maximumCounter; ++counter) {
        auto numberedName = baseName + " (" + std::to_string(counter) + ")";
        if (!extension.empty())
            numberedName += "." + extension;
        candidate = *location / numberedName;
        if (!folder.fileExists(candidate))
            return candidate;
    }
    return std::nullopt;
}

}

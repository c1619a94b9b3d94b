#include "ImageHeader.h"

#include <cstdlib>

namespace halcyra {

namespace {

    // An unsigned number of 1 to 4 bytes at `offset`, or nothing past the end.
    std::optional<std::uint32_t> number(std::string_view bytes, std::size_t offset, int length, bool isBigEndian)
    {
        if (offset > bytes.size() || bytes.size() - offset < std::size_t(length))
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < length; ++i) {
            auto byte = static_cast<unsigned char>(bytes[offset + (isBigEndian ? i : length - 1 - i)]);
            value = (value << 8) | byte;
        }
        return value;
    }

    std::optional<std::uint64_t> product(std::optional<std::uint64_t> width, std::optional<std::uint64_t> height)
    {
        if (!width || !height)
            return std::nullopt;
        return *width * *height;
    }

    std::optional<std::uint64_t> jpegPixels(std::string_view bytes)
    {
        for (std::size_t offset = 2; offset + 9 <= bytes.size();) {
            if (static_cast<unsigned char>(bytes[offset]) != 0xff)
                return std::nullopt;
            auto marker = static_cast<unsigned char>(bytes[offset + 1]);
            if (marker == 0xff) {
                ++offset;
                continue;
            }
            bool isFrame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
            if (isFrame)
                return product(number(bytes, offset + 7, 2, true), number(bytes, offset + 5, 2, true));
            offset += 2 + *number(bytes, offset + 2, 2, true);
        }
        return std::nullopt;
    }

    // The first image, the one decoders read: width and length from its directory.
    std::optional<std::uint64_t> tiffPixels(std::string_view bytes, bool isBigEndian)
    {
        auto directory = number(bytes, 4, 4, isBigEndian);
        auto entryCount = directory ? number(bytes, *directory, 2, isBigEndian) : std::nullopt;
        if (!entryCount)
            return std::nullopt;
        std::optional<std::uint64_t> width, length;
        for (std::uint32_t index = 0; index < *entryCount; ++index) {
            std::size_t entry = *directory + 2 + std::size_t(index) * 12;
            auto tag = number(bytes, entry, 2, isBigEndian);
            auto type = number(bytes, entry + 2, 2, isBigEndian);
            if (!tag || !type)
                return std::nullopt;
            if (*tag != 256 && *tag != 257)
                continue;
            // SHORT (3) or LONG (4), held in the entry itself.
            auto value = *type == 3 ? number(bytes, entry + 8, 2, isBigEndian) : *type == 4 ? number(bytes, entry + 8, 4, isBigEndian)
                                                                                            : std::nullopt;
            if (!value)
                return std::nullopt;
            (*tag == 256 ? width : length) = *value;
        }
        return product(width, length);
    }

    std::optional<std::uint64_t> webpPixels(std::string_view bytes)
    {
        auto chunk = bytes.substr(12, 4);
        auto plus1 = [](std::optional<std::uint32_t> value) -> std::optional<std::uint64_t> {
            return value ? std::optional<std::uint64_t>(std::uint64_t(*value) + 1) : std::nullopt;
        };
        if (chunk == "VP8 ") {
            auto width = number(bytes, 26, 2, false), height = number(bytes, 28, 2, false);
            if (!width || !height)
                return std::nullopt;
            return product(*width & 0x3fff, *height & 0x3fff);
        }
        if (chunk == "VP8L") {
            auto bits = number(bytes, 21, 4, false);
            if (!bits)
                return std::nullopt;
            return product((*bits & 0x3fff) + 1, ((*bits >> 14) & 0x3fff) + 1);
        }
        if (chunk == "VP8X")
            return product(plus1(number(bytes, 24, 3, false)), plus1(number(bytes, 27, 3, false)));
        return std::nullopt;
    }

    std::optional<std::uint64_t> bmpPixels(std::string_view bytes)
    {
        auto headerSize = number(bytes, 14, 4, false);
        if (!headerSize)
            return std::nullopt;
        if (*headerSize == 12)
            return product(number(bytes, 18, 2, false), number(bytes, 20, 2, false));
        auto width = number(bytes, 18, 4, false), height = number(bytes, 22, 4, false);
        if (!width || !height)
            return std::nullopt;
        // Signed: a negative height stores the rows top-down.
        return std::uint64_t(std::llabs(std::int32_t(*width))) * std::uint64_t(std::llabs(std::int32_t(*height)));
    }

}

std::optional<std::uint64_t> declaredPixelCount(std::string_view bytes)
{
    if (bytes.starts_with("\x89PNG\r\n\x1a\n"))
        return product(number(bytes, 16, 4, true), number(bytes, 20, 4, true));
    if (bytes.starts_with("\xff\xd8"))
        return jpegPixels(bytes);
    if (bytes.starts_with(std::string_view("II*\0", 4)))
        return tiffPixels(bytes, false);
    if (bytes.starts_with(std::string_view("MM\0*", 4)))
        return tiffPixels(bytes, true);
    if (bytes.size() >= 16 && bytes.starts_with("RIFF") && bytes.substr(8, 4) == "WEBP")
        return webpPixels(bytes);
    if (bytes.starts_with("BM"))
        return bmpPixels(bytes);
    return std::nullopt;
}

}

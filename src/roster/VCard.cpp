#include "VCard.h"

#include <cstdint>

namespace halcyra {

namespace {

    constexpr std::size_t maximumLineBytes = 75;

    void replaceAll(std::string& text, std::string_view from, std::string_view to)
    {
        std::string result;
        result.reserve(text.size());
        std::size_t start = 0;
        for (auto found = text.find(from); found != std::string::npos; found = text.find(from, start)) {
            result.append(text, start, found - start).append(to);
            start = found + from.size();
        }
        result.append(text, start);
        text = std::move(result);
    }

    // One code point at `position`: its value and its length in bytes. A byte that does not
    // start a valid sequence stands for itself.
    std::pair<char32_t, std::size_t> codePointAt(std::string_view text, std::size_t position)
    {
        auto lead = static_cast<unsigned char>(text[position]);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2
            : (lead >> 4) == 0xe                                  ? 3
            : (lead >> 3) == 0x1e                                 ? 4
                                                                  : 0;
        if (length == 0 || position + length > text.size())
            return { lead, 1 };
        char32_t value = length == 1 ? lead : lead & (0xff >> (length + 1));
        for (std::size_t i = 1; i < length; ++i) {
            auto next = static_cast<unsigned char>(text[position + i]);
            if ((next & 0xc0) != 0x80)
                return { lead, 1 };
            value = (value << 6) | (next & 0x3f);
        }
        return { value, length };
    }

    bool extendsCharacter(char32_t c)
    {
        return (c >= 0x300 && c <= 0x36f) || (c >= 0x1ab0 && c <= 0x1aff) || (c >= 0x1dc0 && c <= 0x1dff)
            || (c >= 0x20d0 && c <= 0x20ff) || (c >= 0xfe20 && c <= 0xfe2f) || (c >= 0xfe00 && c <= 0xfe0f)
            || c == 0x200c || c == 0x200d || (c >= 0x1f3fb && c <= 0x1f3ff) || (c >= 0xe0020 && c <= 0xe007f)
            || (c >= 0xe0100 && c <= 0xe01ef);
    }

    bool isRegionalIndicator(char32_t c) { return c >= 0x1f1e6 && c <= 0x1f1ff; }

    // The length in bytes of the user-perceived character at `position`: a code point with the
    // combining marks, variation selectors, skin tones and zero-width-joined parts that follow
    // it, or a pair of regional indicators (a flag).
    std::size_t characterLength(std::string_view text, std::size_t position)
    {
        auto [first, length] = codePointAt(text, position);
        auto end = position + length;
        if (isRegionalIndicator(first) && end < text.size()) {
            auto [second, secondLength] = codePointAt(text, end);
            if (isRegionalIndicator(second))
                return end + secondLength - position;
        }
        while (end < text.size()) {
            auto [next, nextLength] = codePointAt(text, end);
            if (!extendsCharacter(next))
                break;
            end += nextLength;
            if (next == 0x200d && end < text.size())
                end += codePointAt(text, end).second;
        }
        return end - position;
    }

}

std::string escapeText(std::string_view value)
{
    std::string text(value);
    replaceAll(text, "\\", "\\\\");
    replaceAll(text, ",", "\\,");
    replaceAll(text, ";", "\\;");
    replaceAll(text, "\r\n", "\\n");
    replaceAll(text, "\n", "\\n");
    return text;
}

std::string foldLine(std::string_view line)
{
    if (line.size() <= maximumLineBytes)
        return std::string(line);
    std::string folded;
    folded.reserve(line.size() + line.size() / 25);
    std::size_t count = 0;
    auto append = [&](std::string_view character) {
        if (count + character.size() > maximumLineBytes) {
            folded += "\r\n ";
            count = 1;
        }
        folded += character;
        count += character.size();
    };
    for (std::size_t position = 0; position < line.size();) {
        auto length = characterLength(line, position);
        auto character = line.substr(position, length);
        if (length < maximumLineBytes) {
            append(character);
        } else {
            // A character longer than a whole line (a base letter under dozens of marks) can
            // only be broken between its code points.
            for (std::size_t offset = 0; offset < length;) {
                auto codePointLength = codePointAt(character, offset).second;
                append(character.substr(offset, codePointLength));
                offset += codePointLength;
            }
        }
        position += length;
    }
    return folded;
}

std::string base64Encoded(std::string_view bytes)
{
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return text;
}

std::string vCardData(const std::vector<Student>& students, const PhotoMap& photos)
{
    std::string output;
    for (std::size_t i = 0; i < students.size(); ++i) {
        auto& student = students[i];
        std::vector<std::string> lines;
        lines.emplace_back("BEGIN:VCARD");
        lines.emplace_back("VERSION:3.0");
        lines.push_back("N:" + escapeText(student.last) + ";" + escapeText(student.first) + ";;;");

        std::string fullName = student.first;
        if (!student.last.empty())
            fullName += (fullName.empty() ? "" : " ") + student.last;
        lines.push_back("FN:" + escapeText(fullName));
        lines.emplace_back("ORG:Ashgrove University");

        if (!student.email.empty())
            lines.push_back("EMAIL;TYPE=INTERNET:" + escapeText(student.email));

        if (!student.sections.empty()) {
            std::string sections = student.sections.front();
            for (std::size_t j = 1; j < student.sections.size(); ++j)
                sections += ", " + student.sections[j];
            lines.push_back("TITLE:" + escapeText(sections));
        }

        std::string note;
        if (!student.classOf.empty())
            note = "Class of " + student.classOf;
        if (!student.programs.empty())
            note += (note.empty() ? "" : "\n") + student.programs;
        if (!note.empty())
            lines.push_back("NOTE:" + escapeText(note));

        if (auto photo = photos.find(i); photo != photos.end())
            lines.push_back("PHOTO;ENCODING=b;TYPE=JPEG:" + base64Encoded(photo->second));

        lines.emplace_back("END:VCARD");

        for (auto& line : lines)
            output += foldLine(line) + "\r\n";
    }
    return output;
}

}

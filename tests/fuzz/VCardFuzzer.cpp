#include "FuzzTarget.h"
#include "roster/VCard.h"

using namespace halcyra;

namespace {

bool isContinuationByte(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Lead bytes and their continuation bytes in place; the finer rules (overlong forms, surrogates)
// do not matter for where a fold may go.
bool isUTF8(std::string_view text)
{
    for (size_t index = 0; index < text.size();) {
        auto lead = static_cast<unsigned char>(text[index]);
        size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2
            : (lead & 0xF0) == 0xE0                             ? 3
            : (lead & 0xF8) == 0xF0                             ? 4
                                                                : 0;
        if (!length || index + length > text.size())
            return false;
        for (size_t offset = 1; offset < length; ++offset) {
            if (!isContinuationByte(text[index + offset]))
                return false;
        }
        index += length;
    }
    return true;
}

}

// Escaping and folding of any text, and whole cards of students whose fields are the input's
// tab-separated parts.
HALCYRA_FUZZ_TARGET(vCard)
{
    auto escaped = escapeText(input);
    for (size_t index = 0; index < escaped.size(); ++index) {
        if (escaped[index] == '\n')
            fuzz::check(false, "an escaped text holds no line feed");
        if (escaped[index] == '\\')
            ++index;
    }

    auto folded = foldLine(input);
    bool isText = isUTF8(input);
    size_t lineStart = 0;
    std::string unfolded;
    while (lineStart <= folded.size()) {
        auto lineEnd = folded.find("\r\n ", lineStart);
        auto line = std::string_view(folded).substr(lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
        // A continuation line's leading space counts too.
        fuzz::check(line.size() + (lineStart > 0) <= 75, "no folded line exceeds 75 bytes");
        if (isText && lineEnd != std::string::npos && lineEnd + 3 < folded.size())
            fuzz::check(!isContinuationByte(folded[lineEnd + 3]), "a fold never cuts a character");
        unfolded += line;
        if (lineEnd == std::string::npos)
            break;
        lineStart = lineEnd + 3;
    }
    if (input.find("\r\n ") == std::string_view::npos)
        fuzz::check(unfolded == input, "unfolding gives the line back");

    std::vector<std::string> parts;
    size_t start = 0;
    while (parts.size() < 8) {
        auto end = input.find('\t', start);
        parts.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    parts.resize(8);
    Student student { parts[0], parts[1], parts[2], parts[3], parts[4], { parts[5], parts[6] }, parts[7] };
    auto cards = vCardData({ student, student }, { { 1, parts[7] } });
    fuzz::check(cards.starts_with("BEGIN:VCARD\r\n"), "a card begins");
    fuzz::check(cards.ends_with("END:VCARD\r\n"), "a card ends");
}

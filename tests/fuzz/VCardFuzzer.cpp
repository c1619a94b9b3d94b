#include "FuzzTarget.h"
#include "roster/VCard.h"

#include <algorithm>
#include <bit>

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
    for (size_t index = 0, length = 0; index < text.size(); index += length) {
        auto lead = static_cast<unsigned char>(text[index]);
        length = lead < 0x80 ? 1 : lead >= 0xC0 && lead < 0xF8 ? std::countl_one(lead)
                                                               : 0;
        if (!length || index + length > text.size() || !std::all_of(text.begin() + index + 1, text.begin() + index + length, isContinuationByte))
            return false;
    }
    return true;
}

}

// Escaping and folding of any text, and whole cards of a student whose every field is the input.
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

    std::string field(input);
    Student student { field, field, field, field, field, { field, field }, field };
    auto cards = vCardData({ student, student }, { { 1, field } });
    fuzz::check(cards.starts_with("BEGIN:VCARD\r\n") && cards.ends_with("END:VCARD\r\n"), "a card begins and ends");
}

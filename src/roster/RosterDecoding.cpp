#include "RosterDecoding.h"

#include <array>
#include <nlohmann/json.hpp>

namespace halcyra {

namespace {

    struct DecodingError {
        std::string detail;
    };

    const nlohmann::json& member(const nlohmann::json& object, const char* key)
    {
        auto found = object.find(key);
        if (found == object.end())
            throw DecodingError { std::string("no \"") + key + "\"" };
        return *found;
    }

    std::string text(const nlohmann::json& object, const char* key)
    {
        auto& value = member(object, key);
        if (!value.is_string())
            throw DecodingError { std::string("\"") + key + "\" is not text" };
        return value.get<std::string>();
    }

    Student student(const nlohmann::json& object)
    {
        if (!object.is_object())
            throw DecodingError { "a student is not an object" };
        Student result { text(object, "first"), text(object, "last"), text(object, "email"), text(object, "classOf"), text(object, "programs"), {}, std::nullopt };
        auto& sections = member(object, "sections");
        if (!sections.is_array())
            throw DecodingError { "\"sections\" is not a list" };
        for (auto& section : sections) {
            if (!section.is_string())
                throw DecodingError { "a section is not text" };
            result.sections.push_back(section.get<std::string>());
        }
        auto& photo = member(object, "photo");
        if (!photo.is_null() && !photo.is_string())
            throw DecodingError { "\"photo\" is not text" };
        if (photo.is_string())
            result.photo = photo.get<std::string>();
        return result;
    }

}

std::variant<Roster, std::string> decodeRoster(std::string_view json)
{
    // What the user is told; the detail goes to the log line.
    const std::string message = "The data couldn't be read because it isn't in the correct format.";
    try {
        auto document = nlohmann::json::parse(json);
        if (!document.is_object())
            throw DecodingError { "not an object" };
        Roster roster;
        auto& total = member(document, "total");
        if (total.is_number_integer())
            roster.total = total.get<std::int64_t>();
        else if (!total.is_null())
            throw DecodingError { "\"total\" is not an integer" };
        auto& students = member(document, "students");
        if (!students.is_array())
            throw DecodingError { "\"students\" is not a list" };
        for (auto& entry : students)
            roster.students.push_back(student(entry));
        return roster;
    } catch (const DecodingError& error) {
        return message + " (" + error.detail + ")";
    } catch (const nlohmann::json::exception&) {
        return message + " (not JSON)";
    }
}

std::optional<std::string> decodeBase64(std::string_view encoded)
{
    static constexpr auto values = [] {
        std::array<int, 256> table {};
        table.fill(-1);
        constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t i = 0; i < alphabet.size(); ++i)
            table[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
        return table;
    }();
    if (encoded.size() % 4)
        return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < encoded.size() && encoded[encoded.size() - 1 - padding] == '=')
        ++padding;
    std::string bytes;
    bytes.reserve(encoded.size() / 4 * 3);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < encoded.size() - padding; ++i) {
        int value = values[static_cast<unsigned char>(encoded[i])];
        if (value < 0)
            return std::nullopt;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

}

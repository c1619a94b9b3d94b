#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace halcyra {

// The counts live in one record of one zone on the user's server: the zone is a collection, the
// record a JSON file in it.
inline constexpr const char* countsZoneName = "Counts";
inline constexpr const char* countsRecordName = "WorkdayCounts";

struct SyncRecordID {
    std::string zoneName;
    std::string recordName;

    bool operator==(const SyncRecordID&) const = default;
    static SyncRecordID counts() { return { countsZoneName, countsRecordName }; }
    // The record's file, relative to the server's base address.
    std::string path() const { return zoneName + "/" + recordName + ".json"; }
};

// What the server says about its copy of a record: its change tag (the ETag exactly as
// received, weak or strong) and when it was last written.
struct SyncSystemFields {
    std::string changeTag;
    std::string lastModified;

    bool operator==(const SyncSystemFields&) const = default;
    bool hasWeakChangeTag() const { return changeTag.starts_with("W/"); }

    nlohmann::json archived() const { return { { "changeTag", changeTag }, { "lastModified", lastModified } }; }
    static std::optional<SyncSystemFields> fromArchive(const std::optional<nlohmann::json>& archive)
    {
        if (!archive || !archive->is_object())
            return std::nullopt;
        auto tag = archive->find("changeTag");
        auto modified = archive->find("lastModified");
        if (tag == archive->end() || !tag->is_string() || modified == archive->end() || !modified->is_string())
            return std::nullopt;
        return SyncSystemFields { tag->get<std::string>(), modified->get<std::string>() };
    }
};

// A record as the server stores it: its fields (the JSON object of the file, empty when the
// file held no object) and, for a copy that came from the server, its system fields.
struct SyncRecord {
    SyncRecordID id;
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    std::optional<SyncSystemFields> systemFields;
};

}

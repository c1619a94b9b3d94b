#pragma once

#include "SettingsStore.h"

#include <filesystem>

namespace halcyra {

// Settings kept in one JSON file. Every change replaces the file atomically, so a crash at any
// moment leaves either the old or the new file. A file that cannot be read as settings is moved
// aside (never overwritten) and the store starts empty.
class FileSettingsStore final : public MemorySettingsStore {
public:
    explicit FileSettingsStore(std::filesystem::path);

    // $XDG_CONFIG_HOME/halcyra/defaults.json
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return m_path; }

    void setValue(const std::string& key, nlohmann::json value) override;
    void removeValue(const std::string& key) override;

private:
    void load();
    void moveAside(const std::string& reason);
    void write();

    std::filesystem::path m_path;
};

}

#pragma once

#include "RunLoop.h"
#include "SettingsStore.h"

#include <filesystem>
#include <optional>

namespace halcyra {

// Settings kept in one JSON file. The changes of one turn of the loop are written together, once,
// when the loop comes back to the store (and at the latest when it is destroyed). Each write
// replaces the file atomically, so a crash at any moment leaves either the old or the new file.
// A file that cannot be read as settings is moved aside (never overwritten) and the store starts
// empty; one that cannot be read at all is left as it is, and the store runs on in memory.
class FileSettingsStore final : public MemorySettingsStore {
public:
    FileSettingsStore(std::filesystem::path, RunLoop&);
    ~FileSettingsStore() override;
    FileSettingsStore(const FileSettingsStore&) = delete;
    FileSettingsStore& operator=(const FileSettingsStore&) = delete;

    // $XDG_CONFIG_HOME/halcyra/defaults.json, else ~/.config/halcyra/defaults.json; empty when
    // neither is set.
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return m_path; }

    // Writes the changes not yet written, now.
    void flush();

private:
    void valuesDidChange() override;
    void load();
    std::optional<std::string> readContents();
    void moveAside(const std::string& reason);
    void write();

    std::filesystem::path m_path;
    RunLoop& m_loop;
    std::optional<RunLoop::TimerID> m_pendingWrite;
};

}

#pragma once

#include "support/TemporaryFolder.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>

namespace halcyra {

// A demo tenant of the test's own, in a temporary state folder, killed at the end.
class DemoTenant {
public:
    DemoTenant();
    ~DemoTenant();

    const std::filesystem::path& configurationFile() const { return m_configurationFile; }
    const std::filesystem::path& stateFolder() const { return m_stateFolder.path(); }

    // The control API: every call answers the tenant's state.
    nlohmann::json control(const std::string& method, const std::string& path, const nlohmann::json& body = nullptr);
    nlohmann::json state() { return control("GET", "/state"); }

private:
    // Declared first: removed after the tenant's process has ended.
    TemporaryFolder m_stateFolder;
    pid_t m_process { -1 };
    int m_controlPort { 0 };
    std::filesystem::path m_configurationFile;
};

}

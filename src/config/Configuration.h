#pragma once

#include "session/Endpoints.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

// A certificate to trust in addition to the system's, for the named hosts only.
struct TrustedCertificate {
    std::filesystem::path file;
    std::vector<std::string> hosts;
};

// The user's own WebDAV server for sharing counts between machines; empty URL = sync off.
struct SyncServer {
    std::string url;
    std::string user;
    bool isEnabled() const { return !url.empty(); }
};

// The deployment values of one university: its sign-in chain and tenant, and how to reach them.
struct Configuration {
    std::filesystem::path file;
    Endpoints endpoints;
    std::optional<std::string> proxyURL;
    std::vector<TrustedCertificate> trustedCertificates;
    SyncServer sync;
    std::string updateFeedURL;
    // The application's web page, shown in the About window; empty when none is configured.
    std::string website;
};

struct ConfigurationResult {
    std::optional<Configuration> configuration;
    // One line naming the file and the field, when `configuration` is absent.
    std::string error;
};

// $HALCYRA_CONFIG, else $XDG_CONFIG_HOME/halcyra/halcyra.conf, else /etc/halcyra/halcyra.conf.
std::filesystem::path configurationFilePath();

ConfigurationResult loadConfiguration(const std::filesystem::path& file);
ConfigurationResult parseConfiguration(const std::string& text, const std::filesystem::path& file);

}

#include "Configuration.h"

#include "base/UserFolders.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace halcyra {

namespace {

    using nlohmann::json;

    // Host names as they may appear in a URL: letters, digits, dots and hyphens.
    bool isHostName(const std::string& text)
    {
        if (text.empty() || text.size() > 253 || text.front() == '.' || text.back() == '.')
            return false;
        for (unsigned char c : text) {
            if (!std::isalnum(c) && c != '.' && c != '-')
                return false;
        }
        return true;
    }

    class Reader {
    public:
        explicit Reader(std::filesystem::path file)
            : m_file(std::move(file))
        {
        }

        bool fail(const std::string& field, const std::string& problem)
        {
            if (m_error.empty())
                m_error = m_file.string() + ": " + field + ": " + problem;
            return false;
        }
        const std::string& error() const { return m_error; }

        // A string member; absent when missing and not required.
        std::optional<std::string> string(const json& object, const std::string& key, const std::string& field, bool isRequired)
        {
            auto found = object.find(key);
            if (found == object.end() || found->is_null()) {
                if (isRequired)
                    fail(field, "missing");
                return std::nullopt;
            }
            if (!found->is_string()) {
                fail(field, "must be a string");
                return std::nullopt;
            }
            return found->get<std::string>();
        }

        bool url(const std::string& text, const std::string& field, std::initializer_list<const char*> schemes)
        {
            auto parsed = URL::parse(text);
            if (!parsed || !parsed->host() || parsed->host()->empty())
                return fail(field, "\"" + text + "\" is not an absolute URL");
            for (auto scheme : schemes) {
                if (parsed->scheme() == scheme)
                    return true;
            }
            return fail(field, "\"" + text + "\" has an unsupported scheme");
        }

    private:
        std::filesystem::path m_file;
        std::string m_error;
    };

    bool readEndpoints(Reader& reader, const json& root, Endpoints& endpoints)
    {
        auto found = root.find("endpoints");
        if (found == root.end() || !found->is_object())
            return reader.fail("endpoints", "missing (an object with the eight host names)");
        for (auto& [name, value] : endpoints.namedValues()) {
            auto field = "endpoints." + name;
            auto text = reader.string(*found, name, field, true);
            if (!text)
                return false;
            if (!isHostName(*text))
                return reader.fail(field, "\"" + *text + "\" is not a host name");
            *value = *text;
        }
        return true;
    }

    bool readCertificates(Reader& reader, const json& root, std::vector<TrustedCertificate>& certificates)
    {
        auto found = root.find("trustedCertificates");
        if (found == root.end() || found->is_null())
            return true;
        if (!found->is_array())
            return reader.fail("trustedCertificates", "must be a list");
        for (size_t index = 0; index < found->size(); ++index) {
            const auto& entry = (*found)[index];
            auto field = "trustedCertificates[" + std::to_string(index) + "]";
            if (!entry.is_object())
                return reader.fail(field, "must be an object with \"file\" and \"hosts\"");
            auto file = reader.string(entry, "file", field + ".file", true);
            if (!file)
                return false;
            std::ifstream stream(*file);
            if (!stream)
                return reader.fail(field + ".file", "cannot read \"" + *file + "\"");
            auto hosts = entry.find("hosts");
            if (hosts == entry.end() || !hosts->is_array() || hosts->empty())
                return reader.fail(field + ".hosts", "must be a non-empty list of host names");
            TrustedCertificate certificate { *file, {} };
            for (const auto& host : *hosts) {
                if (!host.is_string() || !isHostName(host.get<std::string>()))
                    return reader.fail(field + ".hosts", "must list host names");
                certificate.hosts.push_back(host.get<std::string>());
            }
            certificates.push_back(std::move(certificate));
        }
        return true;
    }

    bool readSync(Reader& reader, const json& root, SyncServer& sync)
    {
        auto found = root.find("sync");
        if (found == root.end() || found->is_null())
            return true;
        if (!found->is_object())
            return reader.fail("sync", "must be an object with \"url\" and \"user\"");
        auto url = reader.string(*found, "url", "sync.url", false);
        auto user = reader.string(*found, "user", "sync.user", false);
        if (!reader.error().empty())
            return false;
        sync.url = url.value_or("");
        sync.user = user.value_or("");
        if (sync.url.empty())
            return true;
        if (!reader.url(sync.url, "sync.url", { "https", "http" }))
            return false;
        if (sync.user.empty())
            return reader.fail("sync.user", "missing (needed when sync.url is set)");
        return true;
    }

}

std::filesystem::path configurationFilePath()
{
    if (const char* explicitPath = std::getenv("HALCYRA_CONFIG"); explicitPath && *explicitPath)
        return explicitPath;
    if (auto configHome = userConfigFolder(); !configHome.empty()) {
        auto userFile = configHome / "halcyra" / "halcyra.conf";
        std::error_code error;
        if (std::filesystem::exists(userFile, error))
            return userFile;
    }
    return "/etc/halcyra/halcyra.conf";
}

ConfigurationResult loadConfiguration(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return { std::nullopt, file.string() + ": cannot read the configuration file (set HALCYRA_CONFIG, or create $XDG_CONFIG_HOME/halcyra/halcyra.conf or /etc/halcyra/halcyra.conf)" };
    std::stringstream contents;
    contents << stream.rdbuf();
    return parseConfiguration(contents.str(), file);
}

ConfigurationResult parseConfiguration(const std::string& text, const std::filesystem::path& file)
{
    Reader reader(file);
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& error) {
        return { std::nullopt, file.string() + ": not valid JSON (byte " + std::to_string(error.byte) + ")" };
    } catch (const json::out_of_range&) {
        // A number such as 1e999, which no double holds.
        return { std::nullopt, file.string() + ": not valid JSON (a number out of range)" };
    } catch (const json::exception& error) {
        return { std::nullopt, file.string() + ": not valid JSON (" + error.what() + ")" };
    }
    if (!root.is_object())
        return { std::nullopt, file.string() + ": must hold a JSON object" };

    Configuration configuration;
    configuration.file = file;
    bool isValid = readEndpoints(reader, root, configuration.endpoints)
        && readCertificates(reader, root, configuration.trustedCertificates)
        && readSync(reader, root, configuration.sync);
    if (isValid) {
        auto proxy = reader.string(root, "proxy", "proxy", false);
        if (proxy && !proxy->empty() && reader.url(*proxy, "proxy", { "http", "https", "socks", "socks5" }))
            configuration.proxyURL = *proxy;
        auto feed = reader.string(root, "updateFeedURL", "updateFeedURL", false);
        if (feed && !feed->empty() && reader.url(*feed, "updateFeedURL", { "https" }))
            configuration.updateFeedURL = *feed;
        auto website = reader.string(root, "website", "website", false);
        if (website && !website->empty() && reader.url(*website, "website", { "https", "http" }))
            configuration.website = *website;
    }
    if (!reader.error().empty())
        return { std::nullopt, reader.error() };
    return { std::move(configuration), {} };
}

}

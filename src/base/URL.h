#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace halcyra {

// An absolute URL, parsed by GLib's RFC 3986 parser. The host is kept exactly as written
// (no case folding), since the application's host rules compare hosts case-sensitively.
class URL {
public:
    // Absent for anything that is not an absolute URL with a scheme.
    static std::optional<URL> parse(std::string_view text);

    const std::string& string() const { return m_string; }
    const std::string& scheme() const { return m_scheme; }
    const std::optional<std::string>& host() const { return m_host; }
    const std::optional<int>& port() const { return m_port; }
    const std::string& path() const { return m_path; }
    const std::optional<std::string>& query() const { return m_query; }

    bool operator==(const URL& other) const { return m_string == other.m_string; }

private:
    URL() = default;

    std::string m_string;
    std::string m_scheme;
    std::optional<std::string> m_host;
    std::optional<int> m_port;
    std::string m_path;
    std::optional<std::string> m_query;
};

}

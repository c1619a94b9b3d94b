#include "URL.h"

#include <glib.h>
#include <memory>

namespace halcyra {

namespace {

    struct URIDeleter {
        void operator()(GUri* uri) const { g_uri_unref(uri); }
    };

    std::optional<std::string> optionalString(const char* text)
    {
        if (!text)
            return std::nullopt;
        return std::string(text);
    }

}

std::optional<URL> URL::parse(std::string_view text)
{
    std::string input(text);
    if (input.find('\0') != std::string::npos)
        return std::nullopt;
    // Encoded: keep percent-escapes as they are, so that the URL's text survives unchanged.
    std::unique_ptr<GUri, URIDeleter> uri(g_uri_parse(input.c_str(), G_URI_FLAGS_ENCODED, nullptr));
    if (!uri)
        return std::nullopt;

    URL url;
    url.m_string = std::move(input);
    url.m_scheme = g_uri_get_scheme(uri.get());
    url.m_host = optionalString(g_uri_get_host(uri.get()));
    int port = g_uri_get_port(uri.get());
    if (port >= 0)
        url.m_port = port;
    url.m_path = g_uri_get_path(uri.get());
    url.m_query = optionalString(g_uri_get_query(uri.get()));
    return url;
}

}

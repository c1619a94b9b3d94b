#include "LogFormatting.h"

#include "WebEngine.h"

#include <algorithm>
#include <cctype>

namespace halcyra {

namespace {

    constexpr const char* redacted = "[redacted URL]";

    std::string lowercased(std::string text)
    {
        std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

}

std::string redactedURL(const std::optional<URL>& url)
{
    if (!url || url->scheme().empty())
        return redacted;
    auto scheme = lowercased(url->scheme());
    if (scheme != "https" && scheme != "http")
        return redacted;
    if (!url->host() || url->host()->empty())
        return redacted;
    const auto& host = *url->host();
    std::string text = scheme + "://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host);
    if (url->port())
        text += ":" + std::to_string(*url->port());
    // Only text that reads back as the same URL is shown.
    if (!URL::parse(text))
        return redacted;
    return text;
}

std::string errorSummary(const WebError& error)
{
    return error.domain + " (" + std::to_string(error.code) + ")";
}

}

#include "SyncServerAddress.h"

#include "base/URL.h"

#include <algorithm>
#include <cctype>

namespace halcyra {

namespace {

    std::string lowercased(std::string text)
    {
        std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    bool isLoopbackHost(std::string host)
    {
        host = lowercased(host);
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host == "localhost" || host == "::1" || host == "0:0:0:0:0:0:0:1")
            return true;
        // 127.0.0.0/8 in dotted decimal.
        if (!host.starts_with("127."))
            return false;
        int parts = 0;
        size_t start = 0;
        while (start <= host.size()) {
            auto end = host.find('.', start);
            if (end == std::string::npos)
                end = host.size();
            auto part = host.substr(start, end - start);
            if (part.empty() || part.size() > 3 || !std::ranges::all_of(part, [](unsigned char c) { return std::isdigit(c); }) || std::stoi(part) > 255)
                return false;
            ++parts;
            start = end + 1;
        }
        return parts == 4;
    }

}

std::optional<std::string> syncServerAddressProblem(const std::string& text)
{
    auto url = URL::parse(text);
    if (!url || !url->host() || url->host()->empty())
        return "the sync server address is not an absolute URL";
    auto scheme = lowercased(url->scheme());
    if (scheme == "https")
        return std::nullopt;
    if (scheme == "http" && isLoopbackHost(*url->host()))
        return std::nullopt;
    if (scheme == "http")
        return "the sync server must be reached over https (plain http only to this machine); sync is off";
    return "the sync server address must be an https URL; sync is off";
}

std::string syncServerBaseAddress(const std::string& url)
{
    auto base = url;
    while (base.ends_with('/'))
        base.pop_back();
    return base + "/";
}

}

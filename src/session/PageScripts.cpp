#include "PageScripts.h"

#include "EmbeddedScripts.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace halcyra {

namespace {

    // Splits a script at the placeholder that stands inside `context`.
    std::pair<std::string_view, std::string_view> splitAround(std::string_view source, std::string_view context, std::string_view placeholder)
    {
        auto contextStart = source.find(context);
        auto placeholderOffset = context.find(placeholder);
        if (contextStart == std::string_view::npos || placeholderOffset == std::string_view::npos)
            throw std::logic_error("page script lost its placeholder");
        auto start = contextStart + placeholderOffset;
        return { source.substr(0, start), source.substr(start + placeholder.size()) };
    }

}

std::string signInPageScript(const std::vector<std::string>& ssoHosts)
{
    // The first text ends with "var hosts = ", the second begins with ";".
    auto [head, tail] = splitAround(scripts::signInScriptSource, "var hosts = SSO_HOSTS;", "SSO_HOSTS");
    // Written as JSON strings, so that a configured host can never break out of the literal.
    std::string hosts = nlohmann::json(ssoHosts).dump();
    return std::string(head) + hosts + std::string(tail);
}

std::string clickScript(const std::string& automationID)
{
    auto [head, tail] = splitAround(scripts::clickScriptSource, "data-automation-id=\"AUTOMATION_ID\"", "AUTOMATION_ID");
    return std::string(head) + automationID + std::string(tail);
}

std::string_view appBannerScript()
{
    return scripts::appBannerScriptSource;
}

std::string_view rememberDeviceScript()
{
    return scripts::rememberDeviceScriptSource;
}

std::string_view brokenFlowExpression()
{
    return scripts::brokenFlowScriptSource;
}

}

#include "CountScripts.h"

#include "EmbeddedScripts.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace halcyra {

namespace {

    // Written as a JSON string, which is also a JavaScript string literal: a configured host can
    // never break out of it.
    std::string quoted(const std::string& text)
    {
        return nlohmann::json(text).dump();
    }

    std::string replacingPlaceholder(std::string_view source, std::string_view placeholder, const std::string& replacement)
    {
        auto start = source.find(placeholder);
        if (start == std::string_view::npos || source.find(placeholder, start + 1) != std::string_view::npos)
            throw std::logic_error("count script lost its placeholder");
        return std::string(source.substr(0, start)) + replacement + std::string(source.substr(start + placeholder.size()));
    }

}

std::string literalPattern(const std::string& text)
{
    static constexpr std::string_view special = "\\^$.|?*+()[]{}/-";
    std::string pattern;
    for (char c : text) {
        if (special.find(c) != std::string_view::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

std::string homeCountsScript(const std::string& tenantHost)
{
    return replacingPlaceholder(scripts::homeCountsScriptSource, "TENANT_HOST_PATTERN", quoted(literalPattern(tenantHost)));
}

std::string prepaidScript(const std::string& tenantHost)
{
    return replacingPlaceholder(scripts::prepaidScriptSource, "TENANT_HOST_PATTERN", quoted(literalPattern(tenantHost)));
}

std::string draftReportsScript(const std::string& tenantHost)
{
    return replacingPlaceholder(scripts::draftReportsScriptSource, "TENANT_HOST", quoted(tenantHost));
}

std::string_view visibilityOverrideScript()
{
    return scripts::visibilityOverrideScriptSource;
}

}

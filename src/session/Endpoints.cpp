#include "Endpoints.h"

namespace halcyra {

namespace {

    constexpr std::string_view gatewayPrefix = "/wday/authgwy/";
    // Every page of the signed-in tenant lives below this path.
    constexpr std::string_view tenantPagesPath = "/ashgrove/d/";
    constexpr std::string_view homePageName = "home.htmld";
    constexpr std::string_view logoutPath = "/wday/authgwy/ashgrove/logout.htmld";
    constexpr std::string_view loginPath = "/wday/authgwy/ashgrove/login.htmld";
    constexpr std::string_view upcLoginPath = "/wday/authgwy/ashgrove/upc/login";

    bool isHTTPS(const URL& url)
    {
        return url.scheme() == "https";
    }

    bool hasHost(const URL& url, const std::string& host)
    {
        return url.host() && *url.host() == host;
    }

    std::string queryOf(const URL& url)
    {
        return url.query().value_or("");
    }

}

URL Endpoints::entryURL() const
{
    return *URL::parse("https://" + entryHost);
}

URL Endpoints::homeURL() const
{
    return *URL::parse("https://" + tenantHost + std::string(tenantPagesPath) + std::string(homePageName));
}

std::vector<std::string> Endpoints::allowedInAppHosts() const
{
    return { entryHost, webappsHost, ssoHost, shibbolethHost, tenantHost, identityHost };
}

bool Endpoints::isDuoAPIHost(const std::string& host) const
{
    return host.starts_with("api-") && host.ends_with("." + duoDomain);
}

// Loose on purpose, for page classification only: see the header before using either in a
// decision about trust.
bool Endpoints::isWorkdayHost(const std::string& host) const
{
    return host.ends_with(entryHost) || host.ends_with(workdayDomain);
}

bool Endpoints::isSignInHost(const std::string& host) const
{
    return host == ssoHost
        || host.starts_with(shibbolethHost)
        || (host.starts_with("api-") && host.ends_with(duoDomain))
        || host.ends_with(workdayIdentitySuffix());
}

bool Endpoints::isSignInFlowURL(const std::optional<URL>& url) const
{
    if (!url || !url->host())
        return false;
    const auto& host = *url->host();
    if (isSignInHost(host) || host == entryHost || host == webappsHost)
        return true;
    return host == tenantHost && (url->path().starts_with(gatewayPrefix) || url->path().starts_with("/ashgrove/login"));
}

bool Endpoints::isHomeURL(const std::optional<URL>& url) const
{
    return url && hasHost(*url, tenantHost) && url->path() == std::string(tenantPagesPath) + std::string(homePageName);
}

bool Endpoints::isSignedInTenantPage(const std::optional<URL>& url) const
{
    return url && isHTTPS(*url) && hasHost(*url, tenantHost) && url->path().starts_with(tenantPagesPath);
}

bool Endpoints::isUPCLoginWithoutPending(const std::optional<URL>& url) const
{
    return url && isHTTPS(*url) && hasHost(*url, identityHost) && url->path() == upcLoginPath
        && queryOf(*url).find("pending=") == std::string::npos;
}

bool Endpoints::isSessionEndedURL(const std::optional<URL>& url) const
{
    if (!url || !isHTTPS(*url))
        return false;
    return (hasHost(*url, tenantHost) && url->path() == logoutPath) || isUPCLoginWithoutPending(url);
}

bool Endpoints::isSignedOutURL(const std::optional<URL>& url) const
{
    if (isSessionEndedURL(url))
        return true;
    return url && isHTTPS(*url) && hasHost(*url, tenantHost) && url->path() == loginPath;
}

bool Endpoints::isSignInOrSignedOutPage(const std::optional<URL>& url) const
{
    if (!url)
        return true;
    if (hasHost(*url, ssoHost))
        return true;
    return isSignedOutURL(url);
}

bool Endpoints::isRememberDevicePage(const std::optional<URL>& url) const
{
    if (!url || !isHTTPS(*url))
        return false;
    if (hasHost(*url, identityHost) && url->path() == upcLoginPath && queryOf(*url).find("pending=trust") != std::string::npos)
        return true;
    return hasHost(*url, tenantHost) && url->path() == loginPath;
}

std::vector<std::pair<std::string, std::string*>> Endpoints::namedValues()
{
    return {
        { "entryHost", &entryHost },
        { "webappsHost", &webappsHost },
        { "ssoHost", &ssoHost },
        { "shibbolethHost", &shibbolethHost },
        { "duoDomain", &duoDomain },
        { "workdayDomain", &workdayDomain },
        { "tenantHost", &tenantHost },
        { "identityHost", &identityHost },
    };
}

}

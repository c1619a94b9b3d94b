#pragma once

#include "base/URL.h"

#include <optional>
#include <string>
#include <vector>

namespace halcyra {

// The host names of the university's sign-in chain and of its Workday tenant: deployment values
// from the configuration file, and the URLs, host lists and URL tests derived from them. Hosts
// are compared exactly as the URL reports them (case-sensitive) unless a rule says otherwise.
struct Endpoints {
    // What every view of the tenant, shown or hidden, tells it it is.
    static constexpr const char* userAgent = "MyApp/1.0 (Workday Task Viewer)";

    std::string entryHost;
    std::string tenantHost;
    std::string identityHost;
    std::string ssoHost;
    std::string shibbolethHost;
    std::string webappsHost;
    std::string duoDomain;
    std::string workdayDomain;

    std::string workdayIdentitySuffix() const { return "identity." + workdayDomain; }
    URL entryURL() const;
    URL homeURL() const;

    // Hosts whose https links (on port 443) stay in the application's window.
    std::vector<std::string> allowedInAppHosts() const;
    // Hosts whose pages may ask for the saved credentials.
    std::vector<std::string> ssoHosts() const { return { ssoHost }; }
    // The one origin whose pages may show desktop notifications: the tenant's own, exactly.
    std::string notificationOrigin() const { return "https://" + tenantHost; }

    bool isDuoAPIHost(const std::string& host) const;
    // Loose prefix and suffix rules: "evilmyworkday.test" is a Workday host and
    // "shib.ashgrove.test.example" or "api-d3m0duosecurity.test" sign-in hosts. They only classify
    // pages (the subtitle's state, refresh scheduling, the app banner, back and forward through
    // the sign-in).
    // Every trust decision (what stays in the window, who gets the password, where roster photos
    // come from, which page is home for the lock) compares exact hosts; keep it so.
    bool isWorkdayHost(const std::string& host) const;
    bool isSignInHost(const std::string& host) const;
    bool isSignInFlowURL(const std::optional<URL>&) const;
    bool isHomeURL(const std::optional<URL>&) const;
    // A page of the tenant that only a signed-in session reaches (https, below "/ashgrove/d/").
    bool isSignedInTenantPage(const std::optional<URL>&) const;
    bool isUPCLoginWithoutPending(const std::optional<URL>&) const;
    bool isSessionEndedURL(const std::optional<URL>&) const;
    bool isSignedOutURL(const std::optional<URL>&) const;
    bool isSignInOrSignedOutPage(const std::optional<URL>&) const;
    bool isRememberDevicePage(const std::optional<URL>&) const;

    // The endpoint names with their values, in the order the configuration file documents them.
    std::vector<std::pair<std::string, std::string*>> namedValues();
};

}

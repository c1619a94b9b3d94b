#pragma once

#include "session/Endpoints.h"

#include <string>

namespace halcyra {

// The demo tenant's hosts, as its generated configuration names them.
inline Endpoints demoEndpoints()
{
    Endpoints endpoints;
    endpoints.entryHost = "workday.ashgrove.test";
    endpoints.webappsHost = "webapps.ashgrove.test";
    endpoints.ssoHost = "login.ashgrove.test";
    endpoints.shibbolethHost = "shib.ashgrove.test";
    endpoints.duoDomain = "duosecurity.test";
    endpoints.workdayDomain = "myworkday.test";
    endpoints.tenantHost = "wd5.myworkday.test";
    endpoints.identityHost = "wd5.identity.myworkday.test";
    return endpoints;
}

// Pages of the demo tenant and its sign-in site that the session tests land on.
inline const std::string demoHomePage = "https://wd5.myworkday.test/ashgrove/d/home.htmld";
inline const std::string demoCASPage = "https://login.ashgrove.test/cas/login";

inline URL url(const std::string& text)
{
    return *URL::parse(text);
}

}

#include "FuzzTarget.h"
#include "support/DemoEndpoints.h"

using namespace halcyra;

// A URL as a page or a server gives it, through the parser and every navigation rule; the part
// before the first line break is also tried as a host.
HALCYRA_FUZZ_TARGET(url)
{
    static const Endpoints endpoints = demoEndpoints();
    auto url = URL::parse(input);
    if (url) {
        fuzz::check(!url->scheme().empty(), "a parsed URL has a scheme");
        fuzz::check(URL::parse(url->string()).has_value(), "a parsed URL parses again");
    }
    endpoints.isSignInFlowURL(url);
    endpoints.isHomeURL(url);
    endpoints.isSignedInTenantPage(url);
    endpoints.isUPCLoginWithoutPending(url);
    endpoints.isSessionEndedURL(url);
    endpoints.isSignedOutURL(url);
    endpoints.isSignInOrSignedOutPage(url);
    endpoints.isRememberDevicePage(url);
    std::string host(input.substr(0, input.find('\n')));
    endpoints.isDuoAPIHost(host);
    endpoints.isWorkdayHost(host);
    endpoints.isSignInHost(host);
}

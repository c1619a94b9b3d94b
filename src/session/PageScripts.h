#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halcyra {

// The session's page scripts, kept as .js files and compiled in.

// The sign-in script for the given SSO hosts, injected into every frame of the main view.
std::string signInPageScript(const std::vector<std::string>& ssoHosts);
// An expression that clicks the element with this automation id.
std::string clickScript(const std::string& automationID);
// An expression that closes Workday's "Use the Workday App" banner.
std::string_view appBannerScript();
// The body of an async function that answers the remember-device prompt.
std::string_view rememberDeviceScript();
// An expression giving whether CAS shows its broken-flow message.
std::string_view brokenFlowExpression();

}

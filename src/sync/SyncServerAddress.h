#pragma once

#include <optional>
#include <string>

namespace halcyra {

// Why sync cannot use this server address, or nothing when it can: the counts and the password
// travel only over https, except to this machine itself (127.0.0.0/8, ::1, localhost).
std::optional<std::string> syncServerAddressProblem(const std::string& url);

// The address with exactly one trailing slash, so that record paths can be appended.
std::string syncServerBaseAddress(const std::string& url);

}

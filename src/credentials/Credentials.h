#pragma once

#include <string>

namespace halcyra {

// The university sign-in name and password, kept together as one keychain item.
struct Credentials {
    std::string username;
    std::string password;

    bool operator==(const Credentials&) const = default;
};

}

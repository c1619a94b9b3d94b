#pragma once

#include "base/Task.h"

#include <cstdint>
#include <optional>
#include <string>

namespace halcyra {

// Status codes as the application's keychain rules name them.
using KeychainStatus = std::int32_t;
constexpr KeychainStatus keychainSuccess = 0;
constexpr KeychainStatus keychainItemNotFound = -25300;

// One generic-password item, named by service and account.
struct KeychainItemID {
    std::string service;
    std::string account;
};

// What is written with an item's data.
struct KeychainItemAttributes {
    std::string label;
};

struct KeychainReadResult {
    KeychainStatus status { keychainItemNotFound };
    // The item's data, when status is success.
    std::optional<std::string> data;
};

// The desktop's secret store, reduced to the operations the credential store needs. Calls are
// made on the main loop and answer there later: a keyring that must first be unlocked may wait
// for the user, and the window goes on meanwhile.
class Keychain {
public:
    virtual ~Keychain() = default;

    virtual Task<KeychainReadResult> read(KeychainItemID) = 0;
    // Replaces the data of an existing item; keychainItemNotFound when there is none.
    virtual Task<KeychainStatus> update(KeychainItemID, std::string data, KeychainItemAttributes) = 0;
    virtual Task<KeychainStatus> add(KeychainItemID, std::string data, KeychainItemAttributes) = 0;
    virtual Task<KeychainStatus> remove(KeychainItemID) = 0;
    // The platform's message for a status, empty when it has none.
    virtual std::string messageForStatus(KeychainStatus) = 0;
};

}

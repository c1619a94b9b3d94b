#pragma once

#include "credentials/Keychain.h"

#include <map>
#include <string>

typedef struct _GError GError;

namespace halcyra {

// Statuses beyond success and "not found" that the desktop's secret store can answer. They keep
// the values the application's keychain rules are written against, so that logged failures read
// the same on every platform.
constexpr KeychainStatus keychainBadParameter = -50;
constexpr KeychainStatus keychainNotAvailable = -25291;
constexpr KeychainStatus keychainAuthFailed = -25293;
constexpr KeychainStatus keychainDuplicateItem = -25299;
constexpr KeychainStatus keychainInteractionNotAllowed = -25308;
constexpr KeychainStatus keychainInternalError = -26276;

// The user's keyring through the Secret Service (GNOME Keyring, KWallet, KeePassXC), one
// generic item per service and account: `secret-tool lookup service S account A` finds what
// this stores. Items are written to the default collection.
class LibsecretKeychain final : public Keychain {
public:
    KeychainReadResult read(const KeychainItemID&) override;
    KeychainStatus update(const KeychainItemID&, const std::string& data, const KeychainItemAttributes&) override;
    KeychainStatus add(const KeychainItemID&, const std::string& data, const KeychainItemAttributes&) override;
    KeychainStatus remove(const KeychainItemID&) override;
    std::string messageForStatus(KeychainStatus) override;

private:
    KeychainStatus fail(KeychainStatus, const std::string& detail);
    KeychainStatus fail(const GError*);

    // The service's own words for the most recent failure of each status, so that a logged
    // status says what actually went wrong.
    std::map<KeychainStatus, std::string> m_lastErrorDetail;
};

}

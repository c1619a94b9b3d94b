#pragma once

#include "credentials/Keychain.h"
#include "platform/glib/GRefPtr.h"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <map>
#include <string>
#include <vector>

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
constexpr KeychainStatus keychainUserCanceled = -128;

// The user's keyring through the Secret Service (GNOME Keyring, KWallet, KeePassXC), one
// generic item per service and account: `secret-tool lookup service S account A` finds what
// this stores. Items are written to the default collection. Every call is libsecret's
// asynchronous one, so a locked keyring's unlock prompt never stops the main loop; destroying the
// keychain cancels what is under way. It must outlive the tasks that await it.
class LibsecretKeychain final : public Keychain {
public:
    LibsecretKeychain();
    ~LibsecretKeychain() override;
    LibsecretKeychain(const LibsecretKeychain&) = delete;
    LibsecretKeychain& operator=(const LibsecretKeychain&) = delete;

    Task<KeychainReadResult> read(KeychainItemID) override;
    Task<KeychainStatus> update(KeychainItemID, std::string data, KeychainItemAttributes) override;
    Task<KeychainStatus> add(KeychainItemID, std::string data, KeychainItemAttributes) override;
    Task<KeychainStatus> remove(KeychainItemID) override;
    std::string messageForStatus(KeychainStatus) override;

private:
    struct ServiceResult {
        GRefPtr<SecretService> service;
        KeychainStatus status;
    };
    struct SearchResult {
        std::vector<GRefPtr<SecretItem>> items;
        KeychainStatus status;
    };

    Task<ServiceResult> connect();
    Task<SearchResult> search(SecretService*, const KeychainItemID&, SecretSearchFlags);
    // Every item matching, its keyring asked to unlock first (the desktop may prompt the user):
    // "not found" when none matches, a failure when the keyring stays locked.
    Task<SearchResult> unlockedMatches(SecretService*, const KeychainItemID&);
    KeychainStatus fail(KeychainStatus, const std::string& detail);
    KeychainStatus fail(const GError*);

    GRefPtr<GCancellable> m_cancellable;

    // The service's own words for the most recent failure of each status, so that a logged
    // status says what actually went wrong.
    std::map<KeychainStatus, std::string> m_lastErrorDetail;
};

}

#pragma once

#include "credentials/Credentials.h"
#include "credentials/Keychain.h"

#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace halcyra {

class SettingsStore;

// Thrown when forgetting the credentials could not remove an item from the keychain. Autofill
// stays off anyway: the forgotten flag is set before anything is deleted.
class DeletionError : public std::exception {
public:
    DeletionError(KeychainStatus credentialsStatus, KeychainStatus usernameStatus);

    KeychainStatus credentialsStatus() const { return m_credentialsStatus; }
    KeychainStatus usernameStatus() const { return m_usernameStatus; }
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    KeychainStatus m_credentialsStatus;
    KeychainStatus m_usernameStatus;
    std::string m_message;
};

// What the store can say about the saved credentials. Only `noneSaved` and `forgotten` say for
// certain that there are none; `unreadable` covers a keyring that failed, refused or held data
// that is no pair.
enum class SavedCredentials { saved,
    noneSaved,
    forgotten,
    unreadable };

// The saved sign-in credentials: one item in the desktop's secret store, mirrored in memory
// once read, plus a "forgotten" flag in the settings that wins over whatever the keychain still
// holds. The cache is never refreshed from the keychain once loaded. Operations that reach the
// keychain are tasks; a save or a delete that ends while a load waits decides what that load
// gives. Saves and deletes reach the keychain one at a time, in the order they began, and a
// delete wins over every save that began before it.
class KeychainStore {
public:
    static constexpr const char* service = "com.ashgrove.workday.sso";
    static constexpr const char* legacyUsernameService = "com.ashgrove.workday.sso.username";
    static constexpr const char* account = "ashgrove-ss";
    static constexpr const char* label = "Workday SSO credentials";
    static constexpr const char* forgottenKey = "ssoCredentialsForgotten";

    KeychainStore(Keychain&, SettingsStore&);

    Task<std::optional<Credentials>> load();
    // What a load finds, told apart by why there are no credentials.
    Task<SavedCredentials> lookUp();
    // Failures are only logged.
    Task<void> save(std::string username, std::string password);
    Task<void> setUsername(std::string username);
    // Forgets the credentials; throws DeletionError when the keychain refused.
    Task<void> deleteCredentials();
    Task<KeychainStatus> deleteLegacyUsername();
    std::string keychainStatusText(KeychainStatus);
    // Whether credentials are saved, when the flag or the cache tells without asking the keychain.
    std::optional<bool> knownToHaveCredentials() const
    {
        auto answer = answerFromMemory();
        return answer ? std::optional<bool>(answer->has_value()) : std::nullopt;
    }

private:
    struct LoadResult {
        SavedCredentials kind;
        std::optional<Credentials> credentials;
    };
    class WriteTurn;

    Task<LoadResult> loadResult();
    bool isForgotten() const;
    // What load gives without asking the keychain, when the flag or the cache decides.
    std::optional<std::optional<Credentials>> answerFromMemory() const;

    Keychain& m_keychain;
    SettingsStore& m_settings;
    bool m_cacheLoaded { false };
    std::optional<std::string> m_cachedUsername;
    std::optional<std::string> m_cachedPassword;
    // Grows with every save or delete that took effect.
    unsigned m_generation { 0 };
    // Grows with every delete, as it begins.
    unsigned m_deletionCount { 0 };
    // The writes under way, the one whose turn it is first.
    std::deque<WriteTurn*> m_writeTurns;
};

}

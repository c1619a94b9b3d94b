#include "KeychainStore.h"

#include "base/Log.h"
#include "base/SettingsStore.h"

#include <nlohmann/json.hpp>

namespace halcyra {

namespace {

    KeychainItemID credentialsItem()
    {
        return { KeychainStore::service, KeychainStore::account };
    }

    KeychainItemID legacyUsernameItem()
    {
        return { KeychainStore::legacyUsernameService, KeychainStore::account };
    }

    bool isDeletedOrMissing(KeychainStatus status)
    {
        return status == keychainSuccess || status == keychainItemNotFound;
    }

    std::optional<Credentials> decodeCredentials(const std::string& data)
    {
        auto json = nlohmann::json::parse(data, nullptr, false);
        if (!json.is_object())
            return std::nullopt;
        auto username = json.find("username");
        auto password = json.find("password");
        if (username == json.end() || !username->is_string() || password == json.end() || !password->is_string())
            return std::nullopt;
        return Credentials { username->get<std::string>(), password->get<std::string>() };
    }

    bool isValidUTF8(const std::string& text)
    {
        size_t index = 0;
        while (index < text.size()) {
            auto byte = static_cast<unsigned char>(text[index]);
            size_t length;
            char32_t codePoint;
            if (byte < 0x80) {
                ++index;
                continue;
            }
            if ((byte & 0xE0) == 0xC0) {
                length = 2;
                codePoint = byte & 0x1F;
            } else if ((byte & 0xF0) == 0xE0) {
                length = 3;
                codePoint = byte & 0x0F;
            } else if ((byte & 0xF8) == 0xF0) {
                length = 4;
                codePoint = byte & 0x07;
            } else
                return false;
            if (index + length > text.size())
                return false;
            for (size_t offset = 1; offset < length; ++offset) {
                auto continuation = static_cast<unsigned char>(text[index + offset]);
                if ((continuation & 0xC0) != 0x80)
                    return false;
                codePoint = (codePoint << 6) | (continuation & 0x3F);
            }
            // Overlong forms, surrogates and values beyond Unicode are not text.
            static constexpr char32_t smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
            if (codePoint < smallest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
                return false;
            index += length;
        }
        return true;
    }

}

DeletionError::DeletionError(KeychainStatus credentialsStatus, KeychainStatus usernameStatus)
    : m_credentialsStatus(credentialsStatus)
    , m_usernameStatus(usernameStatus)
    , m_message("deleting the saved credentials failed (" + std::to_string(credentialsStatus) + ", " + std::to_string(usernameStatus) + ")")
{
}

KeychainStore::KeychainStore(Keychain& keychain, SettingsStore& settings)
    : m_keychain(keychain)
    , m_settings(settings)
{
}

bool KeychainStore::isForgotten() const
{
    return m_settings.boolean(forgottenKey).value_or(false);
}

std::optional<Credentials> KeychainStore::load()
{
    if (isForgotten())
        return std::nullopt;

    if (m_cacheLoaded) {
        if (!m_cachedPassword)
            return std::nullopt;
        return Credentials { m_cachedUsername.value_or(account), *m_cachedPassword };
    }

    auto result = m_keychain.read(credentialsItem());
    if (result.status == keychainItemNotFound)
        return std::nullopt;
    if (result.status != keychainSuccess) {
        logVerbose("[Keychain] load credentials failed: " + keychainStatusText(result.status));
        return std::nullopt;
    }
    if (!result.data)
        return std::nullopt;

    auto credentials = decodeCredentials(*result.data);
    if (!credentials) {
        if (!isValidUTF8(*result.data))
            return std::nullopt;
        // The first releases stored the password alone, as text.
        credentials = Credentials { account, *result.data };
    }
    m_cachedUsername = credentials->username;
    m_cachedPassword = credentials->password;
    m_cacheLoaded = true;
    return credentials;
}

void KeychainStore::save(const std::string& username, const std::string& password)
{
    std::string data;
    try {
        data = nlohmann::json { { "username", username }, { "password", password } }.dump();
    } catch (const nlohmann::json::exception&) {
        // Strings that are not UTF-8 cannot be written as JSON.
        return;
    }

    KeychainItemAttributes attributes { label };
    auto status = m_keychain.update(credentialsItem(), data, attributes);
    if (status == keychainItemNotFound)
        status = m_keychain.add(credentialsItem(), data, attributes);
    if (status != keychainSuccess) {
        logVerbose("[Keychain] save credentials failed: " + keychainStatusText(status));
        return;
    }

    m_settings.setBoolean(forgottenKey, false);
    m_cachedUsername = username;
    m_cachedPassword = password;
    m_cacheLoaded = true;
}

void KeychainStore::setUsername(const std::string& username)
{
    if (isForgotten())
        return;
    m_cachedUsername = username;
    if (m_cachedPassword)
        save(username, *m_cachedPassword);
}

void KeychainStore::deleteCredentials()
{
    // First, so that autofill is off even when the keychain refuses what follows.
    m_settings.setBoolean(forgottenKey, true);

    m_cacheLoaded = false;
    m_cachedUsername.reset();
    m_cachedPassword.reset();

    auto credentialsStatus = m_keychain.remove(credentialsItem());
    auto usernameStatus = deleteLegacyUsername();

    if (!isDeletedOrMissing(credentialsStatus)) {
        logVerbose("[Keychain] delete credentials failed: " + keychainStatusText(credentialsStatus));
        throw DeletionError(credentialsStatus, usernameStatus);
    }
    if (!isDeletedOrMissing(usernameStatus))
        throw DeletionError(credentialsStatus, usernameStatus);
}

KeychainStatus KeychainStore::deleteLegacyUsername()
{
    auto status = m_keychain.remove(legacyUsernameItem());
    if (!isDeletedOrMissing(status))
        logVerbose("[Keychain] delete legacy username failed: " + keychainStatusText(status));
    return status;
}

std::string KeychainStore::keychainStatusText(KeychainStatus status)
{
    return std::to_string(status) + " " + m_keychain.messageForStatus(status);
}

}

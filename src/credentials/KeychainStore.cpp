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

// A save or a delete waits here for the writes begun before it. It lives in the write's frame,
// so that a write that ends early, throws or is cancelled still hands the turn on.
class KeychainStore::WriteTurn {
public:
    explicit WriteTurn(KeychainStore& store)
        : m_store(store)
    {
        m_store.m_writeTurns.push_back(this);
    }
    ~WriteTurn()
    {
        auto& turns = m_store.m_writeTurns;
        bool wasCurrent = turns.front() == this;
        std::erase(turns, this);
        if (wasCurrent && !turns.empty())
            turns.front()->begin();
    }
    WriteTurn(const WriteTurn&) = delete;
    WriteTurn& operator=(const WriteTurn&) = delete;

    CallbackAwaiter<bool> wait()
    {
        return awaitCallback<bool>([this](std::function<void(bool)> begin) {
            if (m_store.m_writeTurns.front() == this)
                return begin(true);
            m_begin = std::move(begin);
        });
    }

private:
    void begin()
    {
        if (auto begin = std::exchange(m_begin, nullptr))
            begin(true);
    }

    KeychainStore& m_store;
    std::function<void(bool)> m_begin;
};

std::optional<std::optional<Credentials>> KeychainStore::answerFromMemory() const
{
    if (isForgotten())
        return std::optional<Credentials>();
    if (!m_cacheLoaded)
        return std::nullopt;
    if (!m_cachedPassword)
        return std::optional<Credentials>();
    return Credentials { m_cachedUsername.value_or(account), *m_cachedPassword };
}

Task<std::optional<Credentials>> KeychainStore::load()
{
    auto result = co_await loadResult();
    co_return std::move(result.credentials);
}

Task<SavedCredentials> KeychainStore::lookUp()
{
    auto result = co_await loadResult();
    co_return result.kind;
}

Task<KeychainStore::LoadResult> KeychainStore::loadResult()
{
    auto fromMemory = [this]() -> std::optional<LoadResult> {
        auto answer = answerFromMemory();
        if (!answer)
            return std::nullopt;
        if (*answer)
            return LoadResult { SavedCredentials::saved, std::move(*answer) };
        return LoadResult { isForgotten() ? SavedCredentials::forgotten : SavedCredentials::noneSaved, std::nullopt };
    };
    if (auto answer = fromMemory())
        co_return std::move(*answer);

    auto generation = m_generation;
    auto result = co_await m_keychain.read(credentialsItem());
    if (generation != m_generation) {
        if (auto answer = fromMemory())
            co_return std::move(*answer);
    }
    if (result.status == keychainItemNotFound)
        co_return LoadResult { SavedCredentials::noneSaved, std::nullopt };
    if (result.status != keychainSuccess) {
        logVerbose("[Keychain] load credentials failed: " + keychainStatusText(result.status));
        co_return LoadResult { SavedCredentials::unreadable, std::nullopt };
    }
    if (!result.data)
        co_return LoadResult { SavedCredentials::unreadable, std::nullopt };

    auto credentials = decodeCredentials(*result.data);
    if (!credentials) {
        if (!isValidUTF8(*result.data))
            co_return LoadResult { SavedCredentials::unreadable, std::nullopt };
        // The first releases stored the password alone, as text.
        credentials = Credentials { account, *result.data };
    }
    m_cachedUsername = credentials->username;
    m_cachedPassword = credentials->password;
    m_cacheLoaded = true;
    co_return LoadResult { SavedCredentials::saved, std::move(credentials) };
}

Task<void> KeychainStore::save(std::string username, std::string password)
{
    std::string data;
    try {
        data = nlohmann::json { { "username", username }, { "password", password } }.dump();
    } catch (const nlohmann::json::exception&) {
        // Strings that are not UTF-8 cannot be written as JSON.
        co_return;
    }

    auto deletionCount = m_deletionCount;
    WriteTurn turn(*this);
    auto hasTurn = co_await turn.wait();
    // A delete begun since this save removes the item after it: nothing here may bring the
    // pair back, neither into the keychain nor into memory.
    if (!hasTurn || deletionCount != m_deletionCount)
        co_return;

    KeychainItemAttributes attributes { label };
    auto status = co_await m_keychain.update(credentialsItem(), data, attributes);
    if (status == keychainItemNotFound)
        status = co_await m_keychain.add(credentialsItem(), data, attributes);
    if (status != keychainSuccess) {
        logVerbose("[Keychain] save credentials failed: " + keychainStatusText(status));
        co_return;
    }
    if (deletionCount != m_deletionCount)
        co_return;

    ++m_generation;
    m_settings.setBoolean(forgottenKey, false);
    m_cachedUsername = std::move(username);
    m_cachedPassword = std::move(password);
    m_cacheLoaded = true;
}

Task<void> KeychainStore::setUsername(std::string username)
{
    if (isForgotten())
        co_return;
    m_cachedUsername = username;
    if (m_cachedPassword)
        co_await save(std::move(username), *m_cachedPassword);
}

Task<void> KeychainStore::deleteCredentials()
{
    // First, so that autofill is off even when the keychain refuses what follows, or while the
    // saves begun before this wait for their turn.
    m_settings.setBoolean(forgottenKey, true);

    ++m_deletionCount;
    ++m_generation;
    m_cacheLoaded = false;
    m_cachedUsername.reset();
    m_cachedPassword.reset();

    WriteTurn turn(*this);
    auto hasTurn = co_await turn.wait();
    if (!hasTurn)
        co_return;
    auto credentialsStatus = co_await m_keychain.remove(credentialsItem());
    auto usernameStatus = co_await deleteLegacyUsername();

    if (!isDeletedOrMissing(credentialsStatus)) {
        logVerbose("[Keychain] delete credentials failed: " + keychainStatusText(credentialsStatus));
        throw DeletionError(credentialsStatus, usernameStatus);
    }
    if (!isDeletedOrMissing(usernameStatus))
        throw DeletionError(credentialsStatus, usernameStatus);
}

Task<KeychainStatus> KeychainStore::deleteLegacyUsername()
{
    auto status = co_await m_keychain.remove(legacyUsernameItem());
    if (!isDeletedOrMissing(status))
        logVerbose("[Keychain] delete legacy username failed: " + keychainStatusText(status));
    co_return status;
}

std::string KeychainStore::keychainStatusText(KeychainStatus status)
{
    return std::to_string(status) + " " + m_keychain.messageForStatus(status);
}

}

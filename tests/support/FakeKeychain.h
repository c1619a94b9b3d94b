#pragma once

#include "credentials/Keychain.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace halcyra {

// An in-memory secret store that answers at once, or, while `isHoldingAnswers`, only when the
// test calls `answerHeld` (as a keyring waiting for its unlock prompt). A test can make the next
// operation of one kind fail with a given status, as a locked or refusing keyring would.
class FakeKeychain final : public Keychain {
public:
    enum class Operation { read,
        update,
        add,
        remove };

    struct Item {
        std::string data;
        std::string label;
    };

    void failNext(Operation operation, KeychainStatus status) { m_failures[operation] = status; }

    void setItem(const std::string& service, const std::string& account, std::string data) { m_items[{ service, account }] = { std::move(data), {} }; }
    const Item* item(const std::string& service, const std::string& account) const
    {
        auto found = m_items.find({ service, account });
        return found == m_items.end() ? nullptr : &found->second;
    }
    int readCount() const { return m_readCount; }

    bool isHoldingAnswers { false };
    void answerHeld()
    {
        for (auto& answer : std::exchange(m_held, {}))
            answer();
    }

    Task<KeychainReadResult> read(KeychainItemID id) override
    {
        ++m_readCount;
        if (auto failure = co_await answerOrFailure(Operation::read))
            co_return KeychainReadResult { *failure, std::nullopt };
        auto found = m_items.find({ id.service, id.account });
        if (found == m_items.end())
            co_return KeychainReadResult { keychainItemNotFound, std::nullopt };
        co_return KeychainReadResult { keychainSuccess, found->second.data };
    }

    Task<KeychainStatus> update(KeychainItemID id, std::string data, KeychainItemAttributes attributes) override
    {
        if (auto failure = co_await answerOrFailure(Operation::update))
            co_return *failure;
        auto found = m_items.find({ id.service, id.account });
        if (found == m_items.end())
            co_return keychainItemNotFound;
        found->second = { data, attributes.label };
        co_return keychainSuccess;
    }

    Task<KeychainStatus> add(KeychainItemID id, std::string data, KeychainItemAttributes attributes) override
    {
        if (auto failure = co_await answerOrFailure(Operation::add))
            co_return *failure;
        m_items[{ id.service, id.account }] = { data, attributes.label };
        co_return keychainSuccess;
    }

    Task<KeychainStatus> remove(KeychainItemID id) override
    {
        if (auto failure = co_await answerOrFailure(Operation::remove))
            co_return *failure;
        co_return m_items.erase({ id.service, id.account }) ? keychainSuccess : keychainItemNotFound;
    }

    std::string messageForStatus(KeychainStatus) override { return "Keychain error."; }

private:
    // Waits while answers are held, then gives the failure set for this kind of operation, if any.
    Task<std::optional<KeychainStatus>> answerOrFailure(Operation operation)
    {
        co_await awaitCallback<bool>([this](std::function<void(bool)> answer) {
            if (!isHoldingAnswers)
                return answer(true);
            m_held.push_back([answer = std::move(answer)] { answer(true); });
        });
        auto found = m_failures.find(operation);
        if (found == m_failures.end())
            co_return std::nullopt;
        auto status = found->second;
        m_failures.erase(found);
        co_return status;
    }

    std::map<std::pair<std::string, std::string>, Item> m_items;
    std::map<Operation, KeychainStatus> m_failures;
    std::vector<std::function<void()>> m_held;
    int m_readCount { 0 };
};

}

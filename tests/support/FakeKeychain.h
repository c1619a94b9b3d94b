#pragma once

#include "credentials/Keychain.h"

#include <map>
#include <optional>
#include <string>
#include <utility>

namespace halcyra {

// An in-memory secret store. A test can make one kind of operation fail with a given status,
// as a locked or refusing keyring would.
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
    void failAlways(Operation operation, KeychainStatus status)
    {
        m_failures[operation] = status;
        m_sticky[operation] = true;
    }

    void setItem(const std::string& service, const std::string& account, std::string data) { m_items[{ service, account }] = { std::move(data), {} }; }
    const Item* item(const std::string& service, const std::string& account) const
    {
        auto found = m_items.find({ service, account });
        return found == m_items.end() ? nullptr : &found->second;
    }
    int readCount() const { return m_readCount; }

    KeychainReadResult read(const KeychainItemID& id) override
    {
        ++m_readCount;
        if (auto failure = takeFailure(Operation::read))
            return { *failure, std::nullopt };
        auto found = m_items.find({ id.service, id.account });
        if (found == m_items.end())
            return { keychainItemNotFound, std::nullopt };
        return { keychainSuccess, found->second.data };
    }

    KeychainStatus update(const KeychainItemID& id, const std::string& data, const KeychainItemAttributes& attributes) override
    {
        if (auto failure = takeFailure(Operation::update))
            return *failure;
        auto found = m_items.find({ id.service, id.account });
        if (found == m_items.end())
            return keychainItemNotFound;
        found->second = { data, attributes.label };
        return keychainSuccess;
    }

    KeychainStatus add(const KeychainItemID& id, const std::string& data, const KeychainItemAttributes& attributes) override
    {
        if (auto failure = takeFailure(Operation::add))
            return *failure;
        m_items[{ id.service, id.account }] = { data, attributes.label };
        return keychainSuccess;
    }

    KeychainStatus remove(const KeychainItemID& id) override
    {
        if (auto failure = takeFailure(Operation::remove))
            return *failure;
        return m_items.erase({ id.service, id.account }) ? keychainSuccess : keychainItemNotFound;
    }

    std::string messageForStatus(KeychainStatus status) override
    {
        return status == keychainItemNotFound ? "The item could not be found." : "Keychain error.";
    }

private:
    std::optional<KeychainStatus> takeFailure(Operation operation)
    {
        auto found = m_failures.find(operation);
        if (found == m_failures.end())
            return std::nullopt;
        auto status = found->second;
        if (!m_sticky[operation])
            m_failures.erase(found);
        return status;
    }

    std::map<std::pair<std::string, std::string>, Item> m_items;
    std::map<Operation, KeychainStatus> m_failures;
    std::map<Operation, bool> m_sticky;
    int m_readCount { 0 };
};

}

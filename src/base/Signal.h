#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace halcyra {

// Keeps a signal connected while it lives; destroying or resetting it disconnects.
class Connection {
public:
    Connection() = default;
    explicit Connection(std::function<void()> disconnect)
        : m_disconnect(std::move(disconnect))
    {
    }
    Connection(Connection&& other) noexcept
        : m_disconnect(std::exchange(other.m_disconnect, nullptr))
    {
    }
    Connection& operator=(Connection&& other) noexcept
    {
        if (this != &other) {
            disconnect();
            m_disconnect = std::exchange(other.m_disconnect, nullptr);
        }
        return *this;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { disconnect(); }

    void disconnect()
    {
        if (auto disconnect = std::exchange(m_disconnect, nullptr))
            disconnect();
    }

private:
    std::function<void()> m_disconnect;
};

// A list of observers. Observers may connect or disconnect others while being notified; an
// observer disconnected during a notification is not called afterwards.
template <typename... Args>
class Signal {
public:
    using Observer = std::function<void(Args...)>;

    Signal()
        : m_slots(std::make_shared<std::vector<std::shared_ptr<Slot>>>())
    {
    }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Connection connect(Observer observer)
    {
        auto slot = std::make_shared<Slot>(Slot { std::move(observer), true });
        m_slots->push_back(slot);
        std::weak_ptr<std::vector<std::shared_ptr<Slot>>> weakSlots = m_slots;
        return Connection([weakSlots, slot] {
            slot->isConnected = false;
            if (auto slots = weakSlots.lock())
                std::erase(*slots, slot);
        });
    }

    void notify(Args... args) const
    {
        auto snapshot = *m_slots;
        for (auto& slot : snapshot) {
            if (slot->isConnected)
                slot->observer(args...);
        }
    }

private:
    struct Slot {
        Observer observer;
        bool isConnected;
    };
    std::shared_ptr<std::vector<std::shared_ptr<Slot>>> m_slots;
};

}

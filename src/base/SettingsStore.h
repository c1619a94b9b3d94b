#pragma once

#include "Signal.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace halcyra {

// The per-user key-value store of preferences and small persistent state. A value stored with
// one type reads as missing through an accessor of another type. Observers are told the key
// before each change, as the views that show a setting need; storing the value a key already
// holds is no change.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual std::optional<nlohmann::json> value(const std::string& key) const = 0;
    virtual void setValue(const std::string& key, nlohmann::json value) = 0;
    virtual void removeValue(const std::string& key) = 0;

    [[nodiscard]] Connection observeWillChange(std::function<void(std::string key)> observer) { return m_willChange.connect(std::move(observer)); }

    bool hasValue(const std::string& key) const { return value(key).has_value(); }
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<nlohmann::json::array_t> array(const std::string& key) const;

    void setBoolean(const std::string& key, bool value) { setValue(key, value); }
    void setNumber(const std::string& key, double value) { setValue(key, value); }
    void setString(const std::string& key, const std::string& value) { setValue(key, value); }

protected:
    void notifyWillChange(const std::string& key) { m_willChange.notify(key); }

private:
    Signal<std::string> m_willChange;
};

// Settings that live only as long as the object; the file-backed store builds on it.
class MemorySettingsStore : public SettingsStore {
public:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    void setValue(const std::string& key, nlohmann::json value) override;
    void removeValue(const std::string& key) override;
    // Every key with its value, as one JSON object.
    nlohmann::json allValues() const { return m_values; }

protected:
    // After each change.
    virtual void valuesDidChange() { }

    nlohmann::json m_values = nlohmann::json::object();
};

}

#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace halcyra {

// The per-user key-value store of preferences and small persistent state. A value stored with
// one type reads as missing through an accessor of another type.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual std::optional<nlohmann::json> value(const std::string& key) const = 0;
    virtual void setValue(const std::string& key, nlohmann::json value) = 0;
    virtual void removeValue(const std::string& key) = 0;

    bool hasValue(const std::string& key) const { return value(key).has_value(); }
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<nlohmann::json::array_t> array(const std::string& key) const;

    void setBoolean(const std::string& key, bool value) { setValue(key, value); }
    void setNumber(const std::string& key, double value) { setValue(key, value); }
    void setString(const std::string& key, const std::string& value) { setValue(key, value); }
};

// Settings that live only as long as the object; the file-backed store builds on it.
class MemorySettingsStore : public SettingsStore {
public:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    void setValue(const std::string& key, nlohmann::json value) override;
    void removeValue(const std::string& key) override;

protected:
    nlohmann::json m_values = nlohmann::json::object();
};

}

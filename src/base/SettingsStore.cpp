#include "SettingsStore.h"

namespace halcyra {

std::optional<bool> SettingsStore::boolean(const std::string& key) const
{
    auto stored = value(key);
    if (!stored || !stored->is_boolean())
        return std::nullopt;
    return stored->get<bool>();
}

std::optional<double> SettingsStore::number(const std::string& key) const
{
    auto stored = value(key);
    if (!stored || !stored->is_number())
        return std::nullopt;
    return stored->get<double>();
}

std::optional<std::string> SettingsStore::string(const std::string& key) const
{
    auto stored = value(key);
    if (!stored || !stored->is_string())
        return std::nullopt;
    return stored->get<std::string>();
}

std::optional<nlohmann::json::array_t> SettingsStore::array(const std::string& key) const
{
    auto stored = value(key);
    if (!stored || !stored->is_array())
        return std::nullopt;
    return stored->get<nlohmann::json::array_t>();
}

std::optional<nlohmann::json> MemorySettingsStore::value(const std::string& key) const
{
    auto found = m_values.find(key);
    if (found == m_values.end())
        return std::nullopt;
    return *found;
}

void MemorySettingsStore::setValue(const std::string& key, nlohmann::json value)
{
    auto found = m_values.find(key);
    if (found != m_values.end() && *found == value && found->type() == value.type())
        return;
    notifyWillChange(key);
    m_values[key] = std::move(value);
    valuesDidChange();
}

void MemorySettingsStore::removeValue(const std::string& key)
{
    if (!m_values.contains(key))
        return;
    notifyWillChange(key);
    m_values.erase(key);
    valuesDidChange();
}

}

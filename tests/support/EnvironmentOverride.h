#pragma once

#include <optional>
#include <stdlib.h>
#include <string>

namespace halcyra {

// Sets an environment variable (or removes it, given no value) for the life of the object, then
// puts back what was there: the unit tests also run all in one process.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const char* value)
        : m_name(name)
    {
        if (auto* previous = ::getenv(name))
            m_previous = previous;
        set(value);
    }
    ~EnvironmentOverride() { set(m_previous ? m_previous->c_str() : nullptr); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    void set(const char* value) const { value ? ::setenv(m_name.c_str(), value, 1) : ::unsetenv(m_name.c_str()); }

    std::string m_name;
    std::optional<std::string> m_previous;
};

}

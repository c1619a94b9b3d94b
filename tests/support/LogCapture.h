#pragma once

#include "base/Log.h"

#include <algorithm>
#include <string>
#include <vector>

namespace halcyra {

// Collects the diagnostic lines written while it lives.
class LogCapture {
public:
    LogCapture()
    {
        setVerboseLogSinkForTesting([this](std::string_view line) { m_lines.emplace_back(line); });
    }
    ~LogCapture() { setVerboseLogSinkForTesting(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const { return m_lines; }
    bool contains(const std::string& line) const { return std::ranges::find(m_lines, line) != m_lines.end(); }
    int count(const std::string& line) const { return static_cast<int>(std::ranges::count(m_lines, line)); }
    bool containsSubstring(const std::string& text) const
    {
        return std::ranges::any_of(m_lines, [&](auto& line) { return line.find(text) != std::string::npos; });
    }
    void clear() { m_lines.clear(); }

private:
    std::vector<std::string> m_lines;
};

}

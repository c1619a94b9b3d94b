#pragma once

#include "base/URL.h"

#include <optional>
#include <string>

namespace halcyra {

struct WebError;

// Log lines never carry paths, queries or user names: only scheme, host and port.
std::string redactedURL(const std::optional<URL>&);

// "domain (code)"
std::string errorSummary(const WebError&);

}

#pragma once

#include "Roster.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace halcyra {

// The roster in the JSON text the read script gives, or why it is not one. Every key must be
// there with its type: only "total" and "photo" may be null.
std::variant<Roster, std::string> decodeRoster(std::string_view json);

// Standard base64 with its trailing "=" fill; anything else (white space, the URL alphabet, a
// missing fill) is refused.
std::optional<std::string> decodeBase64(std::string_view);

}

#pragma once

#include <glib.h>
#include <jsc/jsc.h>
#include <nlohmann/json.hpp>

namespace halcyra {

// Named arguments for an async page function: a JSON object as an a{sv} dictionary (floating
// reference). Null members are left out: GVariant has no null.
GVariant* variantDictionaryFromJSON(const nlohmann::json& object);

// A page script's value as JSON; undefined, functions and other values without a JSON form
// read as null.
nlohmann::json jsonFromJSCValue(JSCValue*);

}

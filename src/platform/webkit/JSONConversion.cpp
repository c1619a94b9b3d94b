#include "platform/webkit/JSONConversion.h"

#include "platform/glib/GRefPtr.h"

#include <memory>

namespace halcyra {

namespace {

    GVariant* variantFromJSON(const nlohmann::json& value)
    {
        switch (value.type()) {
        case nlohmann::json::value_t::boolean:
            return g_variant_new_boolean(value.get<bool>());
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
            return g_variant_new_int64(value.get<gint64>());
        case nlohmann::json::value_t::number_float:
            return g_variant_new_double(value.get<double>());
        case nlohmann::json::value_t::string:
            return g_variant_new_string(value.get_ref<const std::string&>().c_str());
        case nlohmann::json::value_t::array: {
            GVariantBuilder builder;
            g_variant_builder_init(&builder, G_VARIANT_TYPE("av"));
            for (const auto& element : value) {
                if (auto* variant = variantFromJSON(element))
                    g_variant_builder_add(&builder, "v", variant);
            }
            return g_variant_builder_end(&builder);
        }
        case nlohmann::json::value_t::object:
            return variantDictionaryFromJSON(value);
        default:
            return nullptr;
        }
    }

}

GVariant* variantDictionaryFromJSON(const nlohmann::json& object)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    if (object.is_object()) {
        for (const auto& [key, value] : object.items()) {
            if (auto* variant = variantFromJSON(value))
                g_variant_builder_add(&builder, "{sv}", key.c_str(), variant);
        }
    }
    return g_variant_builder_end(&builder);
}

nlohmann::json jsonFromJSCValue(JSCValue* value)
{
    if (!value || jsc_value_is_undefined(value) || jsc_value_is_null(value))
        return nullptr;
    GUniquePtr<char> text(jsc_value_to_json(value, 0));
    if (!text)
        return nullptr;
    auto parsed = nlohmann::json::parse(text.get(), nullptr, false);
    return parsed.is_discarded() ? nlohmann::json(nullptr) : parsed;
}

}

#include "FuzzTarget.h"
#include "platform/webkit/JSONConversion.h"

using namespace halcyra;

// A page function's named arguments, JSON to GVariant. GLib's criticals (an invalid string, a
// builder misused) count as crashes here.
HALCYRA_FUZZ_TARGET(scriptArguments)
{
    static bool isSetUp = [] {
        g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
        return true;
    }();
    (void)isSetUp;
    auto json = nlohmann::json::parse(input, nullptr, false);
    if (json.is_discarded())
        return;
    GVariant* dictionary = g_variant_ref_sink(variantDictionaryFromJSON(json));
    fuzz::check(g_variant_is_of_type(dictionary, G_VARIANT_TYPE("a{sv}")), "the arguments are a dictionary");
    size_t members = 0;
    if (json.is_object()) {
        for (auto& [key, value] : json.items())
            members += !value.is_null();
    }
    fuzz::check(g_variant_n_children(dictionary) == members, "every member but null is passed");
    g_free(g_variant_print(dictionary, TRUE));
    g_variant_unref(dictionary);
}

#pragma once

#include "platform/glib/GRefPtr.h"

#include <webkit/webkit.h>

namespace halcyra {

// WebKit's boxed types that are counted or copied rather than GObjects.
template <>
struct GRefTraits<WebKitFeatureList> {
    static WebKitFeatureList* ref(WebKitFeatureList* pointer) { return webkit_feature_list_ref(pointer); }
    static void unref(WebKitFeatureList* pointer) { webkit_feature_list_unref(pointer); }
};

template <>
struct GRefTraits<WebKitUserScript> {
    static WebKitUserScript* ref(WebKitUserScript* pointer) { return webkit_user_script_ref(pointer); }
    static void unref(WebKitUserScript* pointer) { webkit_user_script_unref(pointer); }
};

template <>
struct GPtrDeleter<WebKitNetworkProxySettings> {
    void operator()(WebKitNetworkProxySettings* settings) const { webkit_network_proxy_settings_free(settings); }
};

}

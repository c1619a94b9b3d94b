// Runs in every web process. It gives each frame's page world the script message channels
// (window.webkit.messageHandlers.<name>.postMessage(body) -> Promise) and forwards each message
// to the application together with the address of the frame that sent it, as the engine knows
// it. The application decides on the sender's origin from that address alone, so a page cannot
// claim to be another.

#include <cstring>
#include <string>
#include <vector>
#include <webkit/webkit-web-process-extension.h>

namespace {

constexpr const char* messageName = "halcyra.script-message";

// Installs the handlers; `send` is the native function, reachable only through this closure.
constexpr const char* installerSource = R"JS((function (send, names) {
    var handlers = {};
    names.forEach(function (name) {
        handlers[name] = Object.freeze({
            postMessage: function (body) {
                return new Promise(function (resolve, reject) {
                    var text;
                    try {
                        text = JSON.stringify(body === undefined ? null : body);
                    } catch (error) {
                        reject(new Error("The message cannot be sent"));
                        return;
                    }
                    send(name, text === undefined ? "null" : text, resolve, reject);
                });
            }
        });
    });
    var namespace = window.webkit;
    if (typeof namespace !== "object" || namespace === null) {
        Object.defineProperty(window, "webkit", { value: Object.freeze({ messageHandlers: Object.freeze(handlers) }) });
        return;
    }
    Object.keys(handlers).forEach(function (name) {
        try {
            Object.defineProperty(namespace.messageHandlers, name, { value: handlers[name] });
        } catch (error) {
        }
    });
}))JS";

struct Channel {
    GWeakRef page;
    WebKitFrame* frame;
};

struct PendingReply {
    JSCValue* resolve;
    JSCValue* reject;
};

void destroyChannel(gpointer data)
{
    auto* channel = static_cast<Channel*>(data);
    g_weak_ref_clear(&channel->page);
    g_object_unref(channel->frame);
    delete channel;
}

void rejectWith(JSCValue* reject, const char* text)
{
    auto* context = jsc_value_get_context(reject);
    auto* errorConstructor = jsc_context_get_value(context, "Error");
    auto* error = jsc_value_constructor_call(errorConstructor, G_TYPE_STRING, text, G_TYPE_NONE);
    g_object_unref(jsc_value_function_call(reject, JSC_TYPE_VALUE, error, G_TYPE_NONE));
    g_object_unref(error);
    g_object_unref(errorConstructor);
}

void replied(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* pending = static_cast<PendingReply*>(data);
    GError* error = nullptr;
    auto* reply = webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, &error);
    auto* parameters = reply ? webkit_user_message_get_parameters(reply) : nullptr;
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bs)"))) {
        rejectWith(pending->reject, error ? error->message : "No reply");
    } else {
        gboolean isError = FALSE;
        const char* payload = nullptr;
        g_variant_get(parameters, "(b&s)", &isError, &payload);
        if (isError) {
            rejectWith(pending->reject, payload);
        } else {
            auto* value = jsc_value_new_from_json(jsc_value_get_context(pending->resolve), payload);
            g_object_unref(jsc_value_function_call(pending->resolve, JSC_TYPE_VALUE, value, G_TYPE_NONE));
            g_object_unref(value);
        }
    }
    g_clear_error(&error);
    if (reply)
        g_object_unref(reply);
    g_object_unref(pending->resolve);
    g_object_unref(pending->reject);
    delete pending;
}

void send(const char* handlerName, const char* bodyJSON, JSCValue* resolve, JSCValue* reject, Channel* channel)
{
    auto* page = static_cast<WebKitWebPage*>(g_weak_ref_get(&channel->page));
    if (!page) {
        rejectWith(reject, "The page is gone");
        return;
    }
    // The frame's current address, read at the moment of sending.
    const char* frameURI = webkit_frame_get_uri(channel->frame);
    auto* message = webkit_user_message_new(messageName, g_variant_new("(sss)", handlerName ? handlerName : "", frameURI ? frameURI : "", bodyJSON ? bodyJSON : "null"));
    auto* pending = new PendingReply { JSC_VALUE(g_object_ref(resolve)), JSC_VALUE(g_object_ref(reject)) };
    webkit_web_page_send_message_to_view(page, message, nullptr, replied, pending);
    g_object_unref(page);
}

void windowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer data)
{
    auto& names = *static_cast<std::vector<std::string>*>(data);
    if (names.empty())
        return;
    auto* context = webkit_frame_get_js_context_for_script_world(frame, world);
    auto* channel = new Channel;
    g_weak_ref_init(&channel->page, page);
    channel->frame = WEBKIT_FRAME(g_object_ref(frame));
    auto* sendFunction = jsc_value_new_function(context, nullptr, G_CALLBACK(send), channel, destroyChannel, G_TYPE_NONE, 4, G_TYPE_STRING, G_TYPE_STRING, JSC_TYPE_VALUE, JSC_TYPE_VALUE);

    std::vector<const char*> nameList;
    for (const auto& name : names)
        nameList.push_back(name.c_str());
    nameList.push_back(nullptr);
    auto* nameArray = jsc_value_new_array_from_strv(context, nameList.data());

    auto* installer = jsc_context_evaluate(context, installerSource, -1);
    if (jsc_value_is_function(installer))
        g_object_unref(jsc_value_function_call(installer, JSC_TYPE_VALUE, sendFunction, JSC_TYPE_VALUE, nameArray, G_TYPE_NONE));
    g_object_unref(installer);
    g_object_unref(nameArray);
    g_object_unref(sendFunction);
    g_object_unref(context);
}

}

extern "C" G_MODULE_EXPORT void webkit_web_process_extension_initialize_with_user_data(WebKitWebProcessExtension*, const GVariant* userData)
{
    // Lives as long as the web process.
    auto* names = new std::vector<std::string>;
    auto* variant = const_cast<GVariant*>(userData);
    if (variant && g_variant_is_of_type(variant, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        auto* strings = g_variant_get_strv(variant, &count);
        for (gsize index = 0; index < count; ++index)
            names->emplace_back(strings[index]);
        g_free(strings);
    }
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(windowObjectCleared), names);
}

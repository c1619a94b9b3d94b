// Runs in every web process. It gives each frame's page world the script message channels
// (window.webkit.messageHandlers.<name>.postMessage(body) -> Promise) and forwards each message
// to the application together with the address of the frame that sent it, as the engine knows
// it. The application decides on the sender's origin from that address alone, so a page cannot
// claim to be another.
//
// Nothing here keeps a page, a frame or a script alive: the page and the frame are held weakly,
// the promises stay in their own frame's script (this side keeps only their number and a weak
// reference to the function that settles them), and the messages of a frame whose script is gone
// are cancelled.

#include <memory>
#include <string>
#include <vector>
#include <webkit/webkit-web-process-extension.h>

namespace {

constexpr const char* messageName = "halcyra.script-message";

// Installs the handlers and gives back the function that settles a message's promise by its
// number; `send` is the native function, reachable only through this closure.
constexpr const char* installerSource = R"JS((function (send, names) {
    var ErrorConstructor = Error;
    // The handlers keep this alive, and with it the settling function that the native side
    // holds only weakly.
    var channel = { pending: {}, nextNumber: 1 };
    channel.settle = function (number, isError, value) {
        var entry = channel.pending[number];
        delete channel.pending[number];
        if (!entry)
            return;
        if (isError)
            entry.reject(new ErrorConstructor(value));
        else
            entry.resolve(value);
    };
    var handlers = {};
    names.forEach(function (name) {
        handlers[name] = Object.freeze({
            postMessage: function (body) {
                return new Promise(function (resolve, reject) {
                    var text;
                    try {
                        text = JSON.stringify(body === undefined ? null : body);
                    } catch (error) {
                        reject(new ErrorConstructor("The message cannot be sent"));
                        return;
                    }
                    var number = channel.nextNumber++;
                    channel.pending[number] = { resolve: resolve, reject: reject };
                    send(name, text === undefined ? "null" : text, number);
                });
            }
        });
    });
    var namespace = window.webkit;
    if (typeof namespace !== "object" || namespace === null) {
        Object.defineProperty(window, "webkit", { value: Object.freeze({ messageHandlers: Object.freeze(handlers) }) });
    } else {
        Object.keys(handlers).forEach(function (name) {
            try {
                Object.defineProperty(namespace.messageHandlers, name, { value: handlers[name] });
            } catch (error) {
            }
        });
    }
    return channel.settle;
}))JS";

// One frame's channel; lives as long as the frame's script holds its `send` function.
struct Channel {
    GWeakRef page;
    GWeakRef frame;
    // Cancels the messages still on their way when the frame's script goes.
    GCancellable* cancellable;
    JSCWeakValue* settle { nullptr };
};

struct PendingReply {
    GCancellable* cancellable;
    JSCWeakValue* settle;
    double number;
};

void destroyChannel(gpointer data)
{
    auto* channel = static_cast<Channel*>(data);
    g_cancellable_cancel(channel->cancellable);
    g_object_unref(channel->cancellable);
    g_clear_object(&channel->settle);
    g_weak_ref_clear(&channel->page);
    g_weak_ref_clear(&channel->frame);
    delete channel;
}

void settle(JSCWeakValue* weakSettle, double number, bool isError, const char* payload)
{
    g_autoptr(JSCValue) function = jsc_weak_value_get_value(weakSettle);
    if (!function)
        return;
    auto* context = jsc_value_get_context(function);
    g_autoptr(JSCValue) value = isError ? jsc_value_new_string(context, payload) : jsc_value_new_from_json(context, payload);
    if (!value)
        value = jsc_value_new_null(context);
    g_autoptr(JSCValue) result = jsc_value_function_call(function, G_TYPE_DOUBLE, number, G_TYPE_BOOLEAN, isError, JSC_TYPE_VALUE, value, G_TYPE_NONE);
}

void replied(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingReply, void (*)(PendingReply*)> pending(static_cast<PendingReply*>(data), [](PendingReply* reply) {
        g_object_unref(reply->cancellable);
        g_object_unref(reply->settle);
        delete reply;
    });
    g_autoptr(GError) error = nullptr;
    g_autoptr(WebKitUserMessage) reply = webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, &error);
    // The frame's script is gone: there is no promise left to settle.
    if (g_cancellable_is_cancelled(pending->cancellable))
        return;
    auto* parameters = reply ? webkit_user_message_get_parameters(reply) : nullptr;
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bs)"))) {
        settle(pending->settle, pending->number, true, error ? error->message : "No reply");
        return;
    }
    gboolean isError = FALSE;
    const char* payload = nullptr;
    g_variant_get(parameters, "(b&s)", &isError, &payload);
    settle(pending->settle, pending->number, isError, payload);
}

void send(const char* handlerName, const char* bodyJSON, double number, Channel* channel)
{
    g_autoptr(WebKitWebPage) page = static_cast<WebKitWebPage*>(g_weak_ref_get(&channel->page));
    g_autoptr(WebKitFrame) frame = static_cast<WebKitFrame*>(g_weak_ref_get(&channel->frame));
    if (!channel->settle)
        return;
    if (!page || !frame) {
        settle(channel->settle, number, true, "The page is gone");
        return;
    }
    // The frame's current address, read at the moment of sending.
    const char* frameURI = webkit_frame_get_uri(frame);
    auto* message = webkit_user_message_new(messageName, g_variant_new("(sss)", handlerName ? handlerName : "", frameURI ? frameURI : "", bodyJSON ? bodyJSON : "null"));
    auto* pending = new PendingReply { G_CANCELLABLE(g_object_ref(channel->cancellable)), JSC_WEAK_VALUE(g_object_ref(channel->settle)), number };
    webkit_web_page_send_message_to_view(page, message, channel->cancellable, replied, pending);
}

void windowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer data)
{
    auto& names = *static_cast<std::vector<std::string>*>(data);
    if (names.empty())
        return;
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
    auto* channel = new Channel;
    g_weak_ref_init(&channel->page, page);
    g_weak_ref_init(&channel->frame, frame);
    channel->cancellable = g_cancellable_new();
    g_autoptr(JSCValue) sendFunction = jsc_value_new_function(context, nullptr, G_CALLBACK(send), channel, destroyChannel, G_TYPE_NONE, 3, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_DOUBLE);

    std::vector<const char*> nameList;
    for (const auto& name : names)
        nameList.push_back(name.c_str());
    nameList.push_back(nullptr);
    g_autoptr(JSCValue) nameArray = jsc_value_new_array_from_strv(context, nameList.data());

    g_autoptr(JSCValue) installer = jsc_context_evaluate(context, installerSource, -1);
    if (!jsc_value_is_function(installer))
        return;
    g_autoptr(JSCValue) settleFunction = jsc_value_function_call(installer, JSC_TYPE_VALUE, sendFunction, JSC_TYPE_VALUE, nameArray, G_TYPE_NONE);
    if (jsc_value_is_function(settleFunction))
        channel->settle = jsc_weak_value_new(settleFunction);
}

}

extern "C" G_MODULE_EXPORT void webkit_web_process_extension_initialize_with_user_data(WebKitWebProcessExtension*, const GVariant* userData)
{
    // Lives as long as the web process.
    auto* names = new std::vector<std::string>;
    auto* variant = const_cast<GVariant*>(userData);
    if (variant && g_variant_is_of_type(variant, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        g_autofree const gchar** strings = g_variant_get_strv(variant, &count);
        for (gsize index = 0; index < count; ++index)
            names->emplace_back(strings[index]);
    }
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(windowObjectCleared), names);
}

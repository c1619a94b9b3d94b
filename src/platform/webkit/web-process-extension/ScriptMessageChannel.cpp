// Runs in every web process. It gives each frame's page world the script message channels
// (window.webkit.messageHandlers.<name>.postMessage(body) -> Promise) and forwards each message
// to the application together with the address of the document that sent it, as the engine knows
// it. The application decides on the sender's origin from that address alone, so a page cannot
// claim to be another.
//
// A frame outlives its documents, and a page can keep the channel object of a same-origin frame
// after sending that frame on to another site. So each channel is bound to the script context it
// was installed in, and a message is sent only while that context is still the frame's current
// one: any other is refused at once and nothing reaches the application. The address sent is read
// from that same context, never from the frame, whose document may have changed since.
//
// Nothing here keeps a page, a frame or a script alive: the page and the frame are held weakly,
// the promises stay in their own frame's script (this side keeps only their number and a weak
// reference to the function that settles them), and the messages of a frame whose script is gone
// are cancelled.

#include "ExtensionScripts.h"
#include "platform/glib/FreedHeapMemory.h"
#include "platform/glib/GRefPtr.h"

#include <memory>
#include <string>
#include <vector>
#include <webkit/webkit-web-process-extension.h>

namespace {

constexpr const char* messageName = "halcyra.script-message";

using halcyra::adoptGRef;
using halcyra::GRefPtr;
namespace scripts = halcyra::scripts;

// One frame's channel; lives as long as the frame's script holds its `send` function.
struct Channel {
    Channel(WebKitWebPage* page, WebKitFrame* frame)
    {
        g_weak_ref_init(&this->page, page);
        g_weak_ref_init(&this->frame, frame);
    }
    ~Channel()
    {
        g_cancellable_cancel(cancellable.get());
        g_weak_ref_clear(&page);
        g_weak_ref_clear(&frame);
    }

    GWeakRef page;
    GWeakRef frame;
    // Cancels the messages still on their way when the frame's script goes.
    GRefPtr<GCancellable> cancellable { adoptGRef(g_cancellable_new()) };
    GRefPtr<JSCWeakValue> settle;
};

struct PendingReply {
    GRefPtr<GCancellable> cancellable;
    GRefPtr<JSCWeakValue> settle;
    double number;
};

void destroyChannel(gpointer data)
{
    delete static_cast<Channel*>(data);
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
    std::unique_ptr<PendingReply> pending(static_cast<PendingReply*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(WebKitUserMessage) reply = webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, &error);
    // The frame's script is gone: there is no promise left to settle.
    if (g_cancellable_is_cancelled(pending->cancellable.get()))
        return;
    auto* parameters = reply ? webkit_user_message_get_parameters(reply) : nullptr;
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bs)"))) {
        settle(pending->settle.get(), pending->number, true, error ? error->message : "No reply");
        return;
    }
    gboolean isError = FALSE;
    const char* payload = nullptr;
    g_variant_get(parameters, "(b&s)", &isError, &payload);
    settle(pending->settle.get(), pending->number, isError, payload);
}

// Whether the channel's script context (that of the function settling its promises) is `context`.
bool isInstalledIn(JSCWeakValue* weakSettle, JSCContext* context)
{
    g_autoptr(JSCValue) function = jsc_weak_value_get_value(weakSettle);
    // Both contexts are alive here, and the engine keeps one wrapper per script context: the
    // pointers are equal exactly when the contexts are.
    return function && jsc_value_get_context(function) == context;
}

// The address of the document whose script context this is. Window.location and Location.href
// cannot be redefined by a page, so this is what the engine holds for the document.
std::string documentAddress(JSCContext* context)
{
    g_autoptr(JSCValue) global = jsc_context_get_global_object(context);
    g_autoptr(JSCValue) location = jsc_value_object_get_property(global, "location");
    std::string address;
    if (jsc_value_is_object(location)) {
        g_autoptr(JSCValue) href = jsc_value_object_get_property(location, "href");
        if (jsc_value_is_string(href)) {
            g_autofree char* text = jsc_value_to_string(href);
            address = text ? text : "";
        }
    }
    jsc_context_clear_exception(context);
    return address;
}

// Gives false, and sends nothing, when the message cannot be sent for the calling document; the
// script then rejects the message's promise itself.
gboolean send(const char* handlerName, const char* bodyJSON, double number, Channel* channel)
{
    g_autoptr(WebKitWebPage) page = static_cast<WebKitWebPage*>(g_weak_ref_get(&channel->page));
    g_autoptr(WebKitFrame) frame = static_cast<WebKitFrame*>(g_weak_ref_get(&channel->frame));
    if (!channel->settle || !page || !frame)
        return FALSE;
    // The context of the document that the frame shows now, in the page world.
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, webkit_script_world_get_default());
    if (!context || !isInstalledIn(channel->settle.get(), context))
        return FALSE;
    auto address = documentAddress(context);
    auto* message = webkit_user_message_new(messageName, g_variant_new("(sss)", handlerName ? handlerName : "", address.c_str(), bodyJSON ? bodyJSON : "null"));
    auto* pending = new PendingReply { channel->cancellable, channel->settle, number };
    webkit_web_page_send_message_to_view(page, message, channel->cancellable.get(), replied, pending);
    return TRUE;
}

void windowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer data)
{
    auto& names = *static_cast<std::vector<std::string>*>(data);
    if (names.empty())
        return;
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
    auto* channel = new Channel(page, frame);
    g_autoptr(JSCValue) sendFunction = jsc_value_new_function(context, nullptr, G_CALLBACK(send), channel, destroyChannel, G_TYPE_BOOLEAN, 3, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_DOUBLE);

    std::vector<const char*> nameList;
    for (const auto& name : names)
        nameList.push_back(name.c_str());
    nameList.push_back(nullptr);
    g_autoptr(JSCValue) nameArray = jsc_value_new_array_from_strv(context, nameList.data());

    g_autoptr(JSCValue) installer = jsc_context_evaluate(context, scripts::messageChannelInstallerScriptSource.data(), static_cast<gssize>(scripts::messageChannelInstallerScriptSource.size()));
    if (!jsc_value_is_function(installer))
        return;
    g_autoptr(JSCValue) settleFunction = jsc_value_function_call(installer, JSC_TYPE_VALUE, sendFunction, JSC_TYPE_VALUE, nameArray, G_TYPE_NONE);
    if (jsc_value_is_function(settleFunction))
        channel->settle = adoptGRef(jsc_weak_value_new(settleFunction));
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
    halcyra::returnFreedHeapMemoryEveryMinute();
}

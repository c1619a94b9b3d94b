#include "platform/desktop/DesktopExternalOpener.h"

#include "base/Log.h"

#include <gio/gio.h>

namespace halcyra {

void DesktopExternalOpener::openExternally(const URL& url)
{
    // Asynchronous: finding and starting the browser must not hold up the window.
    g_app_info_launch_default_for_uri_async(
        url.string().c_str(), nullptr, nullptr, [](GObject*, GAsyncResult* result, gpointer) {
            GError* error = nullptr;
            if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
                logVerbose(std::string("[App] cannot open a link outside: ") + (error ? error->message : "unknown error"));
                g_clear_error(&error);
            }
        },
        nullptr);
}

}

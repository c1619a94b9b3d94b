#include "platform/desktop/DesktopExternalOpener.h"

#include "base/Log.h"
#include "platform/glib/GRefPtr.h"
#include "platform/glib/OwnEnvironment.h"

#include <gio/gio.h>

namespace halcyra {

void DesktopExternalOpener::openExternally(const URL& url)
{
    // Asynchronous: finding and starting the browser must not hold up the window.
    g_app_info_launch_default_for_uri_async(
        url.string().c_str(), launchContextWithoutOwnEnvironment().get(), nullptr, [](GObject*, GAsyncResult* result, gpointer) {
            GUniqueOutPtr<GError> error;
            if (!g_app_info_launch_default_for_uri_finish(result, error.outPtr()))
                logVerbose(std::string("[App] cannot open a link outside: ") + (error ? error->message : "unknown error"));
        },
        nullptr);
}

}

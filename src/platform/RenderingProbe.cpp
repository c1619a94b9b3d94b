#include "RenderingProbe.h"

#include "base/Log.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <cstring>
#include <dlfcn.h>
#include <glib.h>

namespace halcyra {

std::optional<std::string> probeEGLDriverName()
{
    // Loaded at run time: a machine without libEGL simply keeps the toolkit's choice. It stays
    // loaded, since the toolkit loads it again for the window.
    void* library = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (!library)
        return std::nullopt;
    auto getProcAddress = reinterpret_cast<PFNEGLGETPROCADDRESSPROC>(dlsym(library, "eglGetProcAddress"));
    auto getDisplay = reinterpret_cast<PFNEGLGETDISPLAYPROC>(dlsym(library, "eglGetDisplay"));
    auto initialize = reinterpret_cast<PFNEGLINITIALIZEPROC>(dlsym(library, "eglInitialize"));
    auto queryString = reinterpret_cast<PFNEGLQUERYSTRINGPROC>(dlsym(library, "eglQueryString"));
    auto terminate = reinterpret_cast<PFNEGLTERMINATEPROC>(dlsym(library, "eglTerminate"));
    std::optional<std::string> driverName;
    if (getProcAddress && getDisplay && initialize && queryString && terminate) {
        // The default display follows the session: Wayland where WAYLAND_DISPLAY is set, else X11.
        EGLDisplay display = getDisplay(EGL_DEFAULT_DISPLAY);
        EGLint major = 0, minor = 0;
        if (display != EGL_NO_DISPLAY && initialize(display, &major, &minor)) {
            const char* extensions = queryString(display, EGL_EXTENSIONS);
            auto getDriverName = reinterpret_cast<PFNEGLGETDISPLAYDRIVERNAMEPROC>(getProcAddress("eglGetDisplayDriverName"));
            if (extensions && std::strstr(extensions, "EGL_MESA_query_driver") && getDriverName) {
                if (const char* name = getDriverName(display))
                    driverName = name;
            } else if (const char* vendor = queryString(display, EGL_VENDOR)) {
                // Another vendor's EGL (NVIDIA's, for one) drives a GPU.
                driverName = vendor;
            }
            terminate(display);
        }
    }
    return driverName;
}

void applyWindowRendering(bool drawsWindowWithGL)
{
    // The user's own choice stands.
    if (drawsWindowWithGL || g_getenv("GSK_RENDERER"))
        return;
    g_setenv("GSK_RENDERER", "cairo", TRUE);
}

}

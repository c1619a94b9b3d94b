#include "platform/webkit/RenderingProbe.h"

#include "base/Log.h"
#include "platform/glib/OwnEnvironment.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <glib.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace halcyra {

namespace {

    // A GPU is reached through a device node: the kernel's render and card nodes, or NVIDIA's own.
    bool canOpenGPUDevice()
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
            auto name = entry.path().filename().string();
            if ((name.starts_with("renderD") || name.starts_with("card")) && !access(entry.path().c_str(), R_OK | W_OK))
                return true;
        }
        return !access("/dev/nvidiactl", R_OK | W_OK);
    }

    std::optional<std::string> driverNameInThisProcess()
    {
        // Loaded at run time: a machine without libEGL simply keeps the toolkit's choice.
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

}

std::optional<std::string> probeEGLDriverName()
{
    // Without a device to open, whatever EGL answers draws on the CPU; asking it would cost a
    // sixth of a second of every launch on the virtual and remote desktops where this is common.
    if (!canOpenGPUDevice())
        return "swrast";
    // Asked in a child process, so that a driver that crashes or hangs cannot take the launch with
    // it, and the probe's own display connection and driver state end with the child. Nothing else
    // runs yet, so the fork copies a small, single-threaded process.
    int pipeEnds[2];
    if (pipe(pipeEnds))
        return std::nullopt;
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return std::nullopt;
    }
    if (!child) {
        close(pipeEnds[0]);
        // Nothing to do about a failed write: the parent then keeps the toolkit's choice.
        if (auto name = driverNameInThisProcess(); name && write(pipeEnds[1], name->data(), std::min<size_t>(name->size(), 255)) < 0)
            name.reset();
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string name;
    char buffer[256];
    // A driver that hangs must not hold the launch: after two seconds the toolkit's choice stands.
    pollfd readable { pipeEnds[0], POLLIN, 0 };
    for (ssize_t count = 1; count;) {
        int ready = poll(&readable, 1, 2000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            kill(child, SIGKILL);
            name.clear();
            break;
        }
        count = read(pipeEnds[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 || name.size() + static_cast<size_t>(count) > 255)
            break;
        name.append(buffer, static_cast<size_t>(count));
    }
    close(pipeEnds[0]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
    if (name.empty())
        return std::nullopt;
    return name;
}

void applyWindowRendering(bool drawsWindowWithGL)
{
    // The user's own choice stands.
    if (drawsWindowWithGL || g_getenv("GSK_RENDERER"))
        return;
    setOwnEnvironmentVariable("GSK_RENDERER", "cairo");
    // GTK prepares a GL context as it opens the display, whatever renderer draws later: on a CPU
    // rasterizer that is 40-50 ms of the launch for a context cairo never uses.
    if (!g_getenv("GDK_DEBUG"))
        setOwnEnvironmentVariable("GDK_DEBUG", "gl-disable");
}

}

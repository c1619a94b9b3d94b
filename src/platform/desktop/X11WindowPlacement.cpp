#include "platform/desktop/X11WindowPlacement.h"

#include "platform/glib/GRefPtr.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/x11/gdkx.h>
#endif

namespace halcyra {

#ifdef GDK_WINDOWING_X11
namespace {

    GdkX11Surface* x11Surface(GtkWindow* window)
    {
        if (!GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window))))
            return nullptr;
        auto* surface = gtk_native_get_surface(GTK_NATIVE(window));
        return surface && GDK_IS_X11_SURFACE(surface) ? GDK_X11_SURFACE(surface) : nullptr;
    }

    // The left and top of the frame a reparenting window manager draws around the window
    // (_NET_FRAME_EXTENTS). A move request places the frame, not the content, so positions are
    // kept as the frame's: read once the frame is there, they come back where they were.
    std::pair<long, long> frameOffset(Display* display, Window window)
    {
        Atom type;
        int format;
        unsigned long count = 0;
        unsigned long remaining;
        unsigned char* data = nullptr;
        std::pair<long, long> offset { 0, 0 };
        auto atom = XInternAtom(display, "_NET_FRAME_EXTENTS", True);
        if (atom != 0
            && XGetWindowProperty(display, window, atom, 0, 4, False, XA_CARDINAL, &type, &format, &count, &remaining, &data) == Success
            && data && format == 32 && count == 4) {
            auto* extents = reinterpret_cast<long*>(data);
            offset = { extents[0], extents[2] };
        }
        if (data)
            XFree(data);
        return offset;
    }

    struct WindowPlacement {
        int x;
        int y;
    };

    void moveOnFirstMap(GtkWindow* window, WindowPlacement* placement)
    {
        auto position = *placement;
        g_signal_handlers_disconnect_by_data(window, placement);
        auto* surface = x11Surface(window);
        if (!surface)
            return;
        auto* display = GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
        auto xid = gdk_x11_surface_get_xid(GDK_SURFACE(surface));
        XMoveWindow(display, xid, position.x, position.y);
        XFlush(display);
    }

    struct MoveObserver {
        GtkWindow* window;
        std::function<void()> moved;
    };

    gboolean configureNotified(GdkX11Display*, XEvent* event, MoveObserver* observer)
    {
        if (event->type != ConfigureNotify)
            return FALSE;
        auto* surface = x11Surface(observer->window);
        if (surface && event->xconfigure.window == gdk_x11_surface_get_xid(GDK_SURFACE(surface)))
            observer->moved();
        return FALSE;
    }

}
#endif

std::vector<Rect> monitorWorkAreas(GtkWidget* widget)
{
    std::vector<Rect> areas;
    auto* display = gtk_widget_get_display(widget);
    auto* monitors = gdk_display_get_monitors(display);
    for (unsigned index = 0; index < g_list_model_get_n_items(monitors); ++index) {
        auto monitor = adoptGRef(GDK_MONITOR(g_list_model_get_item(monitors, index)));
        GdkRectangle area;
        gdk_monitor_get_geometry(monitor.get(), &area);
#ifdef GDK_WINDOWING_X11
        if (GDK_IS_X11_MONITOR(monitor.get()))
            gdk_x11_monitor_get_workarea(monitor.get(), &area);
#endif
        areas.push_back({ double(area.x), double(area.y), double(area.width), double(area.height) });
    }
    return areas;
}

std::optional<std::pair<double, double>> windowPosition([[maybe_unused]] GtkWindow* window)
{
#ifdef GDK_WINDOWING_X11
    auto* surface = x11Surface(window);
    if (!surface)
        return std::nullopt;
    auto* display = GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
    int x = 0;
    int y = 0;
    Window child;
    auto xid = gdk_x11_surface_get_xid(GDK_SURFACE(surface));
    if (!XTranslateCoordinates(display, xid, DefaultRootWindow(display), 0, 0, &x, &y, &child))
        return std::nullopt;
    auto [left, top] = frameOffset(display, xid);
    return std::pair<double, double>(x - left, y - top);
#else
    return std::nullopt;
#endif
}

void placeWindowWhenShown([[maybe_unused]] GtkWindow* window, [[maybe_unused]] double x, [[maybe_unused]] double y)
{
#ifdef GDK_WINDOWING_X11
    if (!GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window))))
        return;
    auto* position = new WindowPlacement { int(x), int(y) };
    // Once, on the first map: the window manager has placed the window by then and honours a
    // move, and a window that is hidden and shown again keeps where the user put it.
    g_signal_connect_data(
        window, "map", G_CALLBACK(moveOnFirstMap), position,
        +[](gpointer position, GClosure*) { delete static_cast<WindowPlacement*>(position); }, GConnectFlags(0));
#endif
}

void observeWindowMoves([[maybe_unused]] GtkWindow* window, [[maybe_unused]] std::function<void()> moved)
{
#ifdef GDK_WINDOWING_X11
    auto* display = gtk_widget_get_display(GTK_WIDGET(window));
    if (!GDK_IS_X11_DISPLAY(display))
        return;
    auto* observer = new MoveObserver { window, std::move(moved) };
    // GTK 4 tells of no move on its own; X11 does, in the ConfigureNotify the window gets (a
    // synthetic one from a reparenting window manager when only the frame moved).
    auto handler = g_signal_connect_data(
        display, "xevent", G_CALLBACK(configureNotified), observer,
        +[](gpointer observer, GClosure*) { delete static_cast<MoveObserver*>(observer); }, GConnectFlags(0));
    // The display outlives the window: the handler goes with the window.
    auto* handlerData = new std::pair<GdkDisplay*, gulong>(display, handler);
    g_object_weak_ref(
        G_OBJECT(window), +[](gpointer data, GObject*) {
            auto* handler = static_cast<std::pair<GdkDisplay*, gulong>*>(data);
            g_signal_handler_disconnect(handler->first, handler->second);
            delete handler;
        },
        handlerData);
#endif
}

}

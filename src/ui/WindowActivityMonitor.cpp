#include "WindowActivityMonitor.h"

namespace halcyra {

WindowActivityMonitor::~WindowActivityMonitor()
{
    // A window that is gone took its controller with it.
    for (auto& [window, controller] : m_watched) {
        if (!window)
            continue;
        g_signal_handlers_disconnect_by_data(controller, this);
        g_object_remove_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
    }
}

void WindowActivityMonitor::watch(GtkWidget* window)
{
    auto* controller = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
    g_signal_connect(controller, "event", G_CALLBACK(eventArrived), this);
    gtk_widget_add_controller(window, controller);
    m_watched.emplace_back(window, controller);
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&m_watched.back().first));
}

gboolean WindowActivityMonitor::eventArrived(GtkEventControllerLegacy*, GdkEvent* event, WindowActivityMonitor* self)
{
    switch (gdk_event_get_event_type(event)) {
    case GDK_KEY_PRESS:
        self->m_activity.notify(gdk_key_event_is_modifier(event) ? ActivityKind::modifierChange : ActivityKind::keyPress);
        break;
    case GDK_BUTTON_PRESS:
        self->m_activity.notify(ActivityKind::pointerClick);
        break;
    case GDK_SCROLL:
        self->m_activity.notify(ActivityKind::scroll);
        break;
    case GDK_MOTION_NOTIFY:
        self->m_activity.notify(ActivityKind::pointerMotion);
        break;
    default:
        break;
    }
    // Only watching: the event goes on as if nobody had seen it.
    return FALSE;
}

Connection WindowActivityMonitor::observe(std::function<void(ActivityKind)> observer)
{
    return m_activity.connect(std::move(observer));
}

}

#pragma once

#include "lock/ActivitySource.h"

#include <gtk/gtk.h>
#include <list>

namespace halcyra {

// Input in one window of the application: key presses, modifier keys, clicks, scrolling and
// pointer motion, seen on their way down before any widget handles them.
class WindowActivityMonitor final : public ActivitySource {
public:
    WindowActivityMonitor() = default;
    ~WindowActivityMonitor() override;
    WindowActivityMonitor(const WindowActivityMonitor&) = delete;
    WindowActivityMonitor& operator=(const WindowActivityMonitor&) = delete;

    // Watches `window` from now on (the main window, once it exists).
    void watch(GtkWidget* window);
    [[nodiscard]] Connection observe(std::function<void(ActivityKind)>) override;

private:
    static gboolean eventArrived(GtkEventControllerLegacy*, GdkEvent*, WindowActivityMonitor*);

    // A list: the weak pointers point into its elements, which must not move.
    std::list<std::pair<GtkWidget*, GtkEventController*>> m_watched;
    Signal<ActivityKind> m_activity;
};

}

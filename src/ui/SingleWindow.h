#pragma once

#include <gtk/gtk.h>
#include <utility>

namespace halcyra {

// A window of which at most one is open (Settings, About): asking again brings the open one to
// the front. The window is held weakly; closing it destroys it.
class SingleWindow {
public:
    SingleWindow() = default;
    ~SingleWindow()
    {
        if (m_window)
            g_object_remove_weak_pointer(G_OBJECT(m_window), reinterpret_cast<gpointer*>(&m_window));
    }
    SingleWindow(const SingleWindow&) = delete;
    SingleWindow& operator=(const SingleWindow&) = delete;

    // Presents the open window, or the one `make` builds when none is open.
    template <typename Make>
    GtkWindow* present(Make&& make)
    {
        if (!m_window) {
            m_window = std::forward<Make>(make)();
            g_object_add_weak_pointer(G_OBJECT(m_window), reinterpret_cast<gpointer*>(&m_window));
        }
        gtk_window_present(m_window);
        return m_window;
    }
    GtkWindow* window() const { return m_window; }

private:
    GtkWindow* m_window { nullptr };
};

}

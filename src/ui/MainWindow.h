#pragma once

#include "platform/GRefPtr.h"

#include <gtk/gtk.h>
#include <memory>

namespace halcyra {

class WebView;

// The main window: a header bar with the title and subtitle (the place for the toolbar's
// buttons) over the one main web view. Closing it only hides it; the application goes on.
class MainWindow {
public:
    MainWindow(GtkApplication*, const std::shared_ptr<WebView>&);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    void present();

    GtkWindow* window() const { return GTK_WINDOW(m_window.get()); }
    // Where toolbar controls go, at the end of the header bar.
    GtkWidget* headerBar() const { return m_headerBar.get(); }

private:
    GRefPtr<GtkWidget> m_window;
    GRefPtr<GtkWidget> m_headerBar;
    std::shared_ptr<WebView> m_webView;
};

}

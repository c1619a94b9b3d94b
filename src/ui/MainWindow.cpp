#include "MainWindow.h"

#include "platform/WebKitView.h"

#include <adwaita.h>

namespace halcyra {

namespace {

    constexpr const char* windowTitle = "Ashgrove Workday";
    constexpr int defaultWindowWidth = 800;
    constexpr int defaultWindowHeight = 900;

}

MainWindow::MainWindow(GtkApplication* application, const std::shared_ptr<WebView>& webView)
    : m_window(adw_application_window_new(application))
    , m_headerBar(adw_header_bar_new())
    , m_webView(webView)
{
    auto* window = GTK_WINDOW(m_window.get());
    gtk_window_set_title(window, windowTitle);
    gtk_window_set_default_size(window, defaultWindowWidth, defaultWindowHeight);
    gtk_window_set_hide_on_close(window, TRUE);

    adw_header_bar_set_title_widget(ADW_HEADER_BAR(m_headerBar.get()), adw_window_title_new(windowTitle, ""));
    auto* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(content), m_headerBar.get());
    auto* viewWidget = static_cast<WebKitView&>(*webView).widget();
    gtk_widget_set_vexpand(viewWidget, TRUE);
    gtk_widget_set_hexpand(viewWidget, TRUE);
    gtk_box_append(GTK_BOX(content), viewWidget);
    adw_application_window_set_content(ADW_APPLICATION_WINDOW(window), content);
}

MainWindow::~MainWindow()
{
    gtk_window_destroy(window());
}

void MainWindow::present()
{
    gtk_window_present(window());
}

}

#include "AboutWindow.h"

#include "base/Localization.h"

#include <adwaita.h>

namespace halcyra {

GtkWindow* makeAboutWindow(GtkWindow* parent, const AboutDetails& details)
{
    auto* window = adw_about_window_new();
    auto* about = ADW_ABOUT_WINDOW(window);
    gtk_window_set_title(GTK_WINDOW(window), _("About Halcyra"));
    gtk_window_set_transient_for(GTK_WINDOW(window), parent);
    if (parent)
        gtk_window_set_application(GTK_WINDOW(window), gtk_window_get_application(parent));
    adw_about_window_set_application_name(about, "Halcyra");
    adw_about_window_set_application_icon(about, "com.ashgrove.Halcyra");
    adw_about_window_set_version(about, details.version.c_str());
    adw_about_window_set_developer_name(about, "Ashgrove University");
    adw_about_window_set_comments(about, _("Keeps Ashgrove Workday open, signed in and counted."));
    if (!details.website.empty())
        adw_about_window_set_website(about, details.website.c_str());
    adw_about_window_set_copyright(about, "© Ashgrove University");
    // The application is the university's own; the libraries keep their licences.
    adw_about_window_set_license_type(about, GTK_LICENSE_CUSTOM);
    adw_about_window_set_license(about, _("Halcyra is made by Ashgrove University for its staff and students. All rights reserved."));
    const char* libraries[] = { "GTK https://gtk.org", "libadwaita https://gnome.pages.gitlab.gnome.org/libadwaita/",
        "WebKitGTK https://webkitgtk.org", "libsoup https://libsoup.org", "libsecret https://gnome.pages.gitlab.gnome.org/libsecret/",
        "OpenCV https://opencv.org", "nlohmann/json https://github.com/nlohmann/json", nullptr };
    adw_about_window_add_acknowledgement_section(about, _("Built with"), libraries);
    adw_about_window_add_legal_section(about, "GTK, libadwaita, WebKitGTK, libsoup, libsecret", nullptr, GTK_LICENSE_LGPL_2_1, nullptr);
    adw_about_window_add_legal_section(about, "OpenCV", nullptr, GTK_LICENSE_APACHE_2_0, nullptr);
    adw_about_window_add_legal_section(about, "nlohmann/json", "© Niels Lohmann", GTK_LICENSE_MIT_X11, nullptr);
    return GTK_WINDOW(window);
}

}

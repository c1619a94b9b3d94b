#pragma once

#include <gtk/gtk.h>
#include <string>

namespace halcyra {

struct AboutDetails {
    std::string version;
    // The deployment's web page; none shown when empty.
    std::string website;
};

// The desktop's About window for Halcyra: name, icon, version, web page, licence and the
// libraries it is built on.
GtkWindow* makeAboutWindow(GtkWindow* parent, const AboutDetails&);

}

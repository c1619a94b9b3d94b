#pragma once

#include <gtk/gtk.h>

namespace halcyra {

// A view that a GTK window can show. The engine's views implement it beside the engine-neutral
// web view interface, so that the window and the dialogs it opens reach the widget without
// knowing which engine draws it.
class ViewWidget {
public:
    virtual ~ViewWidget() = default;
    virtual GtkWidget* widget() const = 0;
};

}

#pragma once

#include <algorithm>
#include <functional>
#include <gtk/gtk.h>
#include <iterator>
#include <vector>

namespace halcyra {

// The widgets under `root`, itself included, that `matches` accepts, in the tree's order.
inline std::vector<GtkWidget*> descendants(GtkWidget* root, const std::function<bool(GtkWidget*)>& matches)
{
    std::vector<GtkWidget*> found;
    if (matches(root))
        found.push_back(root);
    for (auto* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child))
        std::ranges::copy(descendants(child, matches), std::back_inserter(found));
    return found;
}

}

#include "AccessibleNames.h"

#include <functional>

namespace halcyra {

namespace {

    void forEachDescendant(GtkWidget* widget, const std::function<void(GtkWidget*)>& visit)
    {
        visit(widget);
        for (auto* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
            forEachDescendant(child, visit);
    }

}

void nameButtonsOnce(GtkWidget* root)
{
    // The button's label names it already; a relation to the same label says it again.
    forEachDescendant(root, [](GtkWidget* widget) {
        if (GTK_IS_BUTTON(widget))
            gtk_accessible_reset_relation(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_RELATION_LABELLED_BY);
    });
}

void nameSearchEntries(GtkWidget* root, const char* name)
{
    forEachDescendant(root, [name](GtkWidget* widget) {
        if (GTK_IS_SEARCH_ENTRY(widget))
            gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
    });
}

}

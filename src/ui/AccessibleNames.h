#pragma once

#include <gtk/gtk.h>

namespace halcyra {

// Names that GTK and libadwaita leave wrong for a screen reader in widgets they build
// themselves: a button named by its label twice over ("Cancel Cancel"), a search field with
// only its class name to say.

// Every button under the widget says its label once.
void nameButtonsOnce(GtkWidget*);

// Every search field under the widget gets this name.
void nameSearchEntries(GtkWidget*, const char* name);

}

#pragma once

#include "window/MainWindowFrame.h"

#include <functional>
#include <gtk/gtk.h>
#include <optional>
#include <vector>

namespace halcyra {

// Window positions where the display server lets an application have them: X11 does; Wayland
// compositors place windows themselves, and there these give nothing and do nothing.

// The work areas of the monitors (without panels and docks where the window manager tells),
// in the display's order; on Wayland the monitors' whole areas.
std::vector<Rect> monitorWorkAreas(GtkWidget*);

// The top-left corner of the window on the screen, its window manager's frame included;
// nothing on Wayland or before the window is realized.
std::optional<std::pair<double, double>> windowPosition(GtkWindow*);

// Asks for the window to be at (x, y), as `windowPosition` tells, once it is shown.
void placeWindowWhenShown(GtkWindow*, double x, double y);

// Calls `moved` after each move of the window by the user or the window manager, for as long
// as the window lives; gives the handler's id on the display (0 on Wayland).
void observeWindowMoves(GtkWindow*, std::function<void()> moved);

}

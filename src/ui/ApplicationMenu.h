#pragma once

#include "platform/glib/GRefPtr.h"

#include <gio/gio.h>

namespace halcyra {

// The main window's primary menu. Its entries activate the application's actions, so the menu
// and the desktop's D-Bus activation reach the same code.
GRefPtr<GMenu> makeApplicationMenu();

}

#pragma once

#include "update/SoftwareUpdater.h"

#include <gtk/gtk.h>

namespace halcyra {

// Tells the outcome of "Check for Updates…": up to date, a newer release with a button that
// opens its page in the browser, or why the check failed.
void presentUpdateCheckResult(GtkWindow* parent, const UpdateCheckResult&, const std::string& currentVersion);

}

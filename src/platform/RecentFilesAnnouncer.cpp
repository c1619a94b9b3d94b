#include "RecentFilesAnnouncer.h"

#include "GRefPtr.h"

#include <gtk/gtk.h>

namespace halcyra {

void RecentFilesAnnouncer::announceFinishedDownload(const std::filesystem::path& path)
{
    GUniquePtr<char> uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (uri)
        gtk_recent_manager_add_item(gtk_recent_manager_get_default(), uri.get());
}

}

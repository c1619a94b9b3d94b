#include "platform/desktop/RecentFilesAnnouncer.h"

#include "platform/glib/GRefPtr.h"

#include <gtk/gtk.h>

namespace halcyra {

void RecentFilesAnnouncer::announceFinishedDownload(const std::filesystem::path& path)
{
    GUniquePtr<char> uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (!uri)
        return;
    // gtk_recent_manager_add_item drops the file with only a warning when the process has no
    // program name (GTK 4 no longer sets one in gtk_init), so every field is given here.
    GUniquePtr<char> contentType(g_content_type_guess(path.c_str(), nullptr, 0, nullptr));
    GUniquePtr<char> mimeType(contentType ? g_content_type_get_mime_type(contentType.get()) : nullptr);
    GtkRecentData data {};
    data.mime_type = mimeType ? mimeType.get() : const_cast<char*>("application/octet-stream");
    data.app_name = const_cast<char*>("Halcyra");
    data.app_exec = const_cast<char*>("halcyra %u");
    gtk_recent_manager_add_full(gtk_recent_manager_get_default(), uri.get(), &data);
}

}

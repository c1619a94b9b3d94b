#include "platform/desktop/FileChooserOpenPanel.h"

#include "platform/glib/GRefPtr.h"
#include "platform/gtk/ViewWidget.h"

#include <gtk/gtk.h>

namespace halcyra {

void FileChooserOpenPanel::run(WebView& view, const OpenPanelParameters& parameters, OpenPanelCompletion completion)
{
    // Attached to the view's window when it is in one; otherwise modal for the application.
    GtkWindow* parent = nullptr;
    if (auto* shown = dynamic_cast<ViewWidget*>(&view)) {
        if (auto* root = gtk_widget_get_root(shown->widget()); root && gtk_widget_get_visible(GTK_WIDGET(root)))
            parent = GTK_WINDOW(root);
    }
    // Both live until the user answers.
    struct Pending {
        GRefPtr<GtkFileChooserNative> chooser;
        OpenPanelCompletion completion;
    };
    // GTK's chooser picks either files or folders; files are always allowed.
    auto* pending = new Pending { adoptGRef(gtk_file_chooser_native_new(nullptr, parent, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr)), std::move(completion) };
    auto* chooser = pending->chooser.get();
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), parameters.allowsMultipleSelection);

    g_signal_connect(chooser, "response", G_CALLBACK(+[](GtkNativeDialog* dialog, int response, Pending* data) {
        std::unique_ptr<Pending> pending(data);
        std::optional<std::vector<std::filesystem::path>> chosen;
        if (response == GTK_RESPONSE_ACCEPT) {
            chosen.emplace();
            auto files = adoptGRef(gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog)));
            for (guint index = 0; index < g_list_model_get_n_items(files.get()); ++index) {
                auto file = adoptGRef(G_FILE(g_list_model_get_item(files.get(), index)));
                GUniquePtr<char> path(g_file_get_path(file.get()));
                if (path)
                    chosen->emplace_back(path.get());
            }
        }
        pending->completion(std::move(chosen));
    }),
        pending);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

}

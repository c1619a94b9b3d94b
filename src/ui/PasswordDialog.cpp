#include "PasswordDialog.h"

#include "ui/AccessibleNames.h"

#include <adwaita.h>
#include <cstring>
#include <string.h>

namespace halcyra {

namespace {

    constexpr const char* cancelResponse = "cancel";
    constexpr const char* unlockResponse = "unlock";

    // GTK 4.8's password field watches its inner text's focus and is freed before that text
    // when its window goes while the field has the focus: the text's last focus change then
    // calls the freed field. The focus leaves the field before the dialog goes.
    void releaseFocus(GtkWidget* dialog)
    {
        gtk_window_set_focus(GTK_WINDOW(dialog), nullptr);
    }

    struct PendingDialog {
        std::function<void(std::optional<std::string>)> entered;
        GtkWidget* entry { nullptr };
    };

    class DialogHandle final : public PasswordPrompt::Handle {
    public:
        explicit DialogHandle(GtkWidget* dialog)
            : m_dialog(dialog)
        {
            g_object_add_weak_pointer(G_OBJECT(m_dialog), reinterpret_cast<gpointer*>(&m_dialog));
        }
        ~DialogHandle() override
        {
            if (!m_dialog)
                return;
            g_object_remove_weak_pointer(G_OBJECT(m_dialog), reinterpret_cast<gpointer*>(&m_dialog));
            // A dialog that has answered closes itself.
            if (g_object_get_data(G_OBJECT(m_dialog), "halcyra-answered"))
                return;
            // Closed from here, the dialog answers nobody.
            g_object_set_data(G_OBJECT(m_dialog), "halcyra-pending", nullptr);
            releaseFocus(m_dialog);
            gtk_window_destroy(GTK_WINDOW(m_dialog));
        }

    private:
        GtkWidget* m_dialog;
    };

}

std::unique_ptr<PasswordPrompt::Handle> PasswordDialog::ask(const std::string& reason, std::function<void(std::optional<std::string>)> entered)
{
    auto* application = g_application_get_default();
    auto* parent = GTK_IS_APPLICATION(application) ? gtk_application_get_active_window(GTK_APPLICATION(application)) : nullptr;
    auto* dialog = adw_message_dialog_new(parent, reason.c_str(), nullptr);
    auto* entry = gtk_password_entry_new();
    // The dialog shows no label beside the field; a screen reader needs one to say.
    gtk_accessible_update_property(GTK_ACCESSIBLE(entry), GTK_ACCESSIBLE_PROPERTY_LABEL, "Password", -1);
    gtk_password_entry_set_show_peek_icon(GTK_PASSWORD_ENTRY(entry), TRUE);
    g_object_set(entry, "activates-default", TRUE, nullptr);
    adw_message_dialog_set_extra_child(ADW_MESSAGE_DIALOG(dialog), entry);
    adw_message_dialog_add_responses(ADW_MESSAGE_DIALOG(dialog), cancelResponse, "Cancel", unlockResponse, "Unlock", nullptr);
    adw_message_dialog_set_response_appearance(ADW_MESSAGE_DIALOG(dialog), unlockResponse, ADW_RESPONSE_SUGGESTED);
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), unlockResponse);
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), cancelResponse);
    nameButtonsOnce(dialog);

    g_object_set_data_full(G_OBJECT(dialog), "halcyra-pending", new PendingDialog { std::move(entered), entry },
        [](gpointer pending) { delete static_cast<PendingDialog*>(pending); });
    g_signal_connect(dialog, "response", G_CALLBACK(+[](AdwMessageDialog* dialog, const char* response, gpointer) {
        auto* pending = static_cast<PendingDialog*>(g_object_steal_data(G_OBJECT(dialog), "halcyra-pending"));
        if (!pending)
            return;
        g_object_set_data(G_OBJECT(dialog), "halcyra-answered", GINT_TO_POINTER(1));
        releaseFocus(GTK_WIDGET(dialog));
        std::optional<std::string> password;
        if (!strcmp(response, unlockResponse))
            password = gtk_editable_get_text(GTK_EDITABLE(pending->entry));
        gtk_editable_set_text(GTK_EDITABLE(pending->entry), "");
        auto entered = std::move(pending->entered);
        delete pending;
        entered(std::move(password));
    }),
        nullptr);
    gtk_window_present(GTK_WINDOW(dialog));
    gtk_widget_grab_focus(entry);
    return std::make_unique<DialogHandle>(dialog);
}

}

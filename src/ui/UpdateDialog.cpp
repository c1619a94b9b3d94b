#include "UpdateDialog.h"

#include "base/Localization.h"
#include "platform/glib/OwnEnvironment.h"
#include "ui/AccessibleNames.h"

#include <adwaita.h>

namespace halcyra {

namespace {

    GtkWidget* messageDialog(GtkWindow* parent, const std::string& heading, const std::string& body)
    {
        auto* dialog = adw_message_dialog_new(parent, heading.c_str(), body.c_str());
        adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "close", _("OK"));
        return dialog;
    }

    GtkWidget* availableDialog(GtkWindow* parent, const AppcastItem& item, const std::string& currentVersion)
    {
        auto& shownVersion = item.shortVersion.empty() ? item.version : item.shortVersion;
        auto* dialog = adw_message_dialog_new(parent, formatted(_("Halcyra %s is available"), shownVersion).c_str(),
            formatted(_("You have version %s."), currentVersion).c_str());
        adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "close", _("Later"));
        if (item.releasePageURL.empty())
            return dialog;
        adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "open", _("Open Release Page"));
        adw_message_dialog_set_response_appearance(ADW_MESSAGE_DIALOG(dialog), "open", ADW_RESPONSE_SUGGESTED);
        adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), "open");
        g_object_set_data_full(G_OBJECT(dialog), "halcyra-release-page", g_strdup(item.releasePageURL.c_str()), g_free);
        g_signal_connect(dialog, "response::open", G_CALLBACK(+[](AdwMessageDialog* dialog, const char*) {
            auto* page = static_cast<const char*>(g_object_get_data(G_OBJECT(dialog), "halcyra-release-page"));
            g_app_info_launch_default_for_uri_async(page, launchContextWithoutOwnEnvironment().get(), nullptr, nullptr, nullptr);
        }),
            nullptr);
        return dialog;
    }

}

void presentUpdateCheckResult(GtkWindow* parent, const UpdateCheckResult& result, const std::string& currentVersion)
{
    GtkWidget* dialog = nullptr;
    if (std::holds_alternative<UpToDate>(result))
        dialog = messageDialog(parent, _("You're up to date"), formatted(_("Halcyra %s is the newest version."), currentVersion));
    else if (auto* available = std::get_if<UpdateAvailable>(&result))
        dialog = availableDialog(parent, available->item, currentVersion);
    else
        dialog = messageDialog(parent, _("Couldn't Check for Updates"), std::get<UpdateCheckFailed>(result).message);
    nameButtonsOnce(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
}

}

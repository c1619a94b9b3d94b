#include "PreferencesWindow.h"

#include "base/Localization.h"

#include "platform/glib/GRefPtr.h"
#include "ui/AccessibleNames.h"

#include <adwaita.h>
#include <memory>

namespace halcyra {

namespace {

    constexpr const char* badgeFooter = N_("Choose which counts are added together to form the Dock badge number. The toolbar count bubbles are always shown regardless.");
    constexpr const char* forgetFailureMessage = N_("Some saved sign-in information couldn't be removed from your Keychain. Saved credential autofill is disabled, including after restarting Halcyra. Choose Forget Saved Credentials again to retry. Signing in by hand and successfully saving new credentials enables autofill again.");

    // The model lives as long as the window that shows it.
    PreferencesModel& attachModel(GtkWindow* window, PreferencesModel model)
    {
        auto* stored = new PreferencesModel(std::move(model));
        g_object_set_data_full(
            G_OBJECT(window), "halcyra-preferences", stored, +[](gpointer data) { delete static_cast<PreferencesModel*>(data); });
        return *stored;
    }

    GtkWidget* switchRow(const std::string& label, PreferenceSwitch& preference)
    {
        auto* row = adw_action_row_new();
        adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), label.c_str());
        auto* toggle = gtk_switch_new();
        gtk_switch_set_active(GTK_SWITCH(toggle), preference.value());
        gtk_widget_set_valign(toggle, GTK_ALIGN_CENTER);
        gtk_widget_set_tooltip_text(toggle, preference.help.c_str());
        gtk_accessible_update_property(GTK_ACCESSIBLE(toggle), GTK_ACCESSIBLE_PROPERTY_LABEL, preference.title.c_str(), -1);
        g_signal_connect(toggle, "notify::active", G_CALLBACK(+[](GtkSwitch* toggle, GParamSpec*, PreferenceSwitch* preference) {
            preference->setValue(gtk_switch_get_active(toggle));
        }),
            &preference);
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), toggle);
        adw_action_row_set_activatable_widget(ADW_ACTION_ROW(row), toggle);
        // The row names the switch by its title as well: a screen reader would say both.
        gtk_accessible_reset_relation(GTK_ACCESSIBLE(toggle), GTK_ACCESSIBLE_RELATION_LABELLED_BY);
        return row;
    }

    GtkWidget* group(const char* title)
    {
        auto* group = adw_preferences_group_new();
        adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group), title);
        return group;
    }

    void showForgetFailure(GtkWindow* window)
    {
        auto* alert = adw_message_dialog_new(window, _("Couldn't Forget Saved Credentials"), _(forgetFailureMessage));
        adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(alert), "ok", _("OK"));
        nameButtonsOnce(alert);
        gtk_window_present(GTK_WINDOW(alert));
    }

    void confirmForget(GtkWindow* window, PreferencesModel& model)
    {
        auto* dialog = adw_message_dialog_new(window, _("Forget your saved Workday username and password?"), nullptr);
        adw_message_dialog_add_responses(ADW_MESSAGE_DIALOG(dialog), "cancel", _("Cancel"), "forget", _("Forget"), nullptr);
        adw_message_dialog_set_response_appearance(ADW_MESSAGE_DIALOG(dialog), "forget", ADW_RESPONSE_DESTRUCTIVE);
        adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "cancel");
        nameButtonsOnce(dialog);
        g_signal_connect(dialog, "response::forget", G_CALLBACK(+[](AdwMessageDialog* dialog, const char*, PreferencesModel* model) {
            // The answer may come after the Settings window closed; it then shows nothing.
            auto settingsWindow = std::shared_ptr<GWeakRef>(new GWeakRef, [](GWeakRef* reference) {
                g_weak_ref_clear(reference);
                delete reference;
            });
            g_weak_ref_init(settingsWindow.get(), gtk_window_get_transient_for(GTK_WINDOW(dialog)));
            model->forgetSavedCredentials([settingsWindow](bool hasForgotten) {
                GRefPtr<GtkWindow> window = adoptGRef(static_cast<GtkWindow*>(g_weak_ref_get(settingsWindow.get())));
                if (!hasForgotten && window)
                    showForgetFailure(window.get());
            });
        }),
            &model);
        gtk_window_present(GTK_WINDOW(dialog));
    }

}

GtkWindow* makePreferencesWindow(GtkWindow* parent, PreferencesModel initialModel)
{
    auto* window = adw_preferences_window_new();
    gtk_window_set_title(GTK_WINDOW(window), _("Settings"));
    gtk_window_set_transient_for(GTK_WINDOW(window), parent);
    // The application's shortcuts (Ctrl+W, Ctrl+Q) work here too.
    if (parent)
        gtk_window_set_application(GTK_WINDOW(window), gtk_window_get_application(parent));
    gtk_window_set_default_size(GTK_WINDOW(window), 420, 440);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    adw_preferences_window_set_search_enabled(ADW_PREFERENCES_WINDOW(window), FALSE);
    auto& model = attachModel(GTK_WINDOW(window), std::move(initialModel));
    auto* page = adw_preferences_page_new();

    auto* launch = group(_("App Launch"));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(launch), switchRow(_("Hide on launch:"), model.hideOnLaunch));
    adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(launch));

    auto* notifications = group(_("Notifications"));
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(notifications), switchRow(_("Notify about new tasks:"), model.notifyAboutNewTasks));
    adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(notifications));

    auto* badge = group(_("Badge Count"));
    for (auto& component : model.badgeSwitches)
        adw_preferences_group_add(ADW_PREFERENCES_GROUP(badge), switchRow(formatted(_("%s:"), component.title), component));
    // A widget that is not a row goes below the rows: the group's footer.
    auto* footer = gtk_label_new(_(badgeFooter));
    gtk_label_set_wrap(GTK_LABEL(footer), TRUE);
    gtk_label_set_xalign(GTK_LABEL(footer), 0);
    gtk_widget_add_css_class(footer, "dim-label");
    gtk_widget_add_css_class(footer, "caption");
    gtk_widget_set_margin_top(footer, 12);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(badge), footer);
    adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(badge));

    auto* password = group(_("Saved Password"));
    auto* row = adw_action_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), _("Credentials:"));
    auto* forget = gtk_button_new();
    auto* forgetContent = adw_button_content_new();
    adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(forgetContent), "dialog-password-symbolic");
    adw_button_content_set_label(ADW_BUTTON_CONTENT(forgetContent), _("Forget Saved Credentials"));
    gtk_button_set_child(GTK_BUTTON(forget), forgetContent);
    gtk_widget_add_css_class(forget, "destructive-action");
    gtk_widget_set_valign(forget, GTK_ALIGN_CENTER);
    g_signal_connect(forget, "clicked", G_CALLBACK(+[](GtkWidget* button, PreferencesModel* model) {
        confirmForget(GTK_WINDOW(gtk_widget_get_root(button)), *model);
    }),
        &model);
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), forget);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(password), row);
    adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(password));

    // The page's title names its tab in the window's switcher, which a screen reader finds even
    // with one page; the window's own (disabled) search field has no name of its own either.
    adw_preferences_page_set_title(ADW_PREFERENCES_PAGE(page), _("General"));
    adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window), ADW_PREFERENCES_PAGE(page));
    nameSearchEntries(GTK_WIDGET(window), _("Search Settings"));
    return GTK_WINDOW(window);
}

}

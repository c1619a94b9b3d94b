#include "PreferencesPresentation.h"

#include "badge/BadgeComponent.h"
#include "badge/BadgeSettings.h"
#include "base/Localization.h"
#include "base/SettingsStore.h"
#include "credentials/KeychainStore.h"
#include "notifications/NewTaskNotifier.h"
#include "session/OffScreenHost.h"
#include "ui/WindowActivityMonitor.h"

namespace halcyra {

namespace {

    PreferenceSwitch preference(std::string title, std::string help, std::function<bool()> value, std::function<void(bool)> setValue)
    {
        return { std::move(title), std::move(help), std::move(value), std::move(setValue) };
    }

    Task<void> forget(KeychainStore& store, std::function<void(bool)> done)
    {
        bool hasForgotten = true;
        try {
            co_await store.deleteCredentials();
        } catch (const DeletionError&) {
            hasForgotten = false;
        }
        done(hasForgotten);
    }

}

PreferencesPresentation::PreferencesPresentation(Services services)
    : m_services(services)
    , m_tasks(services.runLoop)
{
}

void PreferencesPresentation::present(GtkApplication* application, GtkWindow* parent)
{
    m_window.present([&] {
        auto* window = makePreferencesWindow(parent, model());
        if (!parent)
            gtk_window_set_application(window, application);
        m_services.windowActivity.watch(GTK_WIDGET(window));
        return window;
    });
}

PreferencesModel PreferencesPresentation::model()
{
    auto& settings = m_services.settings;
    PreferencesModel model;
    model.hideOnLaunch = preference(
        _("Hide window on launch"),
        _("When enabled, the window stays hidden on launch while Workday logs in behind the scenes. Click the Dock icon to bring the window back."),
        [&settings] { return settings.boolean(OffScreenHost::hideOnLaunchKey).value_or(false); },
        [&settings](bool value) { settings.setBoolean(OffScreenHost::hideOnLaunchKey, value); });
    model.notifyAboutNewTasks = preference(
        _("Notify about new tasks"),
        _("A desktop notification tells when new tasks arrive in your Workday inbox while Halcyra is in the background."),
        [&notifier = m_services.taskNotifier] { return notifier.isEnabled(); },
        [&settings](bool value) { settings.setBoolean(NewTaskNotifier::enabledKey, value); });
    for (auto& component : badgeComponents()) {
        model.badgeSwitches.push_back(preference(
            _(component.title.c_str()), _(component.help.c_str()),
            [&badge = m_services.badgeSettings, field = component.keyPath] { return badge.value(field); },
            [&badge = m_services.badgeSettings, field = component.keyPath](bool value) { badge.setValue(field, value); }));
    }
    model.forgetSavedCredentials = [this](std::function<void(bool)> done) {
        m_tasks.spawn(forget(m_services.keychainStore, std::move(done)));
    };
    return model;
}

}

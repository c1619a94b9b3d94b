#include "ApplicationMenu.h"

#include "base/Localization.h"

namespace halcyra {

namespace {

    void appendSection(GMenu* menu, const char* label, std::initializer_list<std::pair<const char*, const char*>> entries)
    {
        GRefPtr<GMenu> section = adoptGRef(g_menu_new());
        for (auto& [title, action] : entries)
            g_menu_append(section.get(), title, action);
        g_menu_append_section(menu, label, G_MENU_MODEL(section.get()));
    }

}

GRefPtr<GMenu> makeApplicationMenu()
{
    GRefPtr<GMenu> menu = adoptGRef(g_menu_new());
    appendSection(menu.get(), _("Academics"), { { _("Course Roster…"), "app.course-roster" }, { _("Export Roster Contacts…"), "app.export-roster" } });
    appendSection(menu.get(), nullptr, { { _("Lock"), "app.lock" }, { _("Preferences"), "app.preferences" } });
    // The update check comes right after About, both about the application itself.
    appendSection(menu.get(), nullptr, { { _("About Halcyra"), "app.about" }, { _("Check for Updates…"), "app.check-updates" } });
    appendSection(menu.get(), nullptr, { { _("Quit"), "app.quit" } });
    return menu;
}

}

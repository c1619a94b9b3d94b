// The main window's toolbar read from its widget tree, as a person or a screen reader meets it.

#include "support/WidgetTree.h"
#include "ui/MainToolbar.h"

#include <adwaita.h>
#include <gtest/gtest.h>

namespace halcyra {
namespace {

    bool isShown(GtkWidget* widget)
    {
        for (; widget; widget = gtk_widget_get_parent(widget)) {
            if (!gtk_widget_get_visible(widget))
                return false;
        }
        return true;
    }

    std::vector<std::string> shownBubbleTooltips(GtkWidget* root)
    {
        std::vector<std::string> tooltips;
        for (auto* bubble : descendants(root, [](GtkWidget* widget) { return gtk_widget_has_css_class(widget, "count-bubble") && isShown(widget); }))
            tooltips.push_back(gtk_widget_get_tooltip_text(bubble));
        return tooltips;
    }

    TEST(MainToolbar, showsTitleSubtitleAndOneBubblePerCountThatOpensItsPage)
    {
        adw_init();
        std::vector<BubbleKind> opened;
        int lockToggles = 0;
        ToolbarActions actions;
        actions.openBubble = [&](BubbleKind kind) { opened.push_back(kind); };
        actions.toggleLock = [&] { ++lockToggles; };
        auto* headerBar = adw_header_bar_new();
        auto* window = adw_window_new();
        adw_window_set_content(ADW_WINDOW(window), headerBar);
        MainToolbar toolbar(headerBar, "Ashgrove Workday", nullptr, std::move(actions));

        ToolbarState state;
        state.subtitle = "Updated just now";
        state.isLocked = true;
        state.bubbles = countBubbles({ .task = 3, .notification = 2, .prepaid = 4, .draft = 1 });
        toolbar.update(state);
        gtk_window_present(GTK_WINDOW(window));

        auto titles = descendants(window, [](GtkWidget* widget) { return ADW_IS_WINDOW_TITLE(widget); });
        ASSERT_EQ(titles.size(), 1u);
        EXPECT_STREQ(adw_window_title_get_title(ADW_WINDOW_TITLE(titles[0])), "Ashgrove Workday");
        EXPECT_STREQ(adw_window_title_get_subtitle(ADW_WINDOW_TITLE(titles[0])), "Updated just now");
        EXPECT_EQ(shownBubbleTooltips(window), (std::vector<std::string> { "1 draft expense reports. Tap to view.", "4 prepaid credit card transactions. Tap to view.", "2 notifications. Tap to view.", "3 outstanding tasks. Tap to review." }));

        // Each bubble opens its own count's page; the lock button asks for the unlock.
        for (auto* bubble : descendants(window, [](GtkWidget* widget) { return gtk_widget_has_css_class(widget, "count-bubble"); }))
            g_signal_emit_by_name(bubble, "clicked");
        EXPECT_EQ(opened, (std::vector { BubbleKind::draft, BubbleKind::prepaid, BubbleKind::notification, BubbleKind::task }));
        auto lockButtons = descendants(window, [](GtkWidget* widget) { return GTK_IS_BUTTON(widget) && g_strcmp0(gtk_widget_get_tooltip_text(widget), "Unlock Workday") == 0; });
        ASSERT_EQ(lockButtons.size(), 1u);
        g_signal_emit_by_name(lockButtons[0], "clicked");
        EXPECT_EQ(lockToggles, 1);

        // A count that falls to zero or below, or is no longer read, takes its bubble away.
        state.subtitle = "Not signed in";
        state.bubbles = countBubbles({ .task = 0, .notification = 2, .prepaid = std::nullopt, .draft = -3 });
        toolbar.update(state);
        EXPECT_STREQ(adw_window_title_get_subtitle(ADW_WINDOW_TITLE(titles[0])), "Not signed in");
        EXPECT_EQ(shownBubbleTooltips(window), (std::vector<std::string> { "2 notifications. Tap to view." }));
        gtk_window_destroy(GTK_WINDOW(window));
    }

}
}

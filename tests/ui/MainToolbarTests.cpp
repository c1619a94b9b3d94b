// The main window's toolbar read from its widget tree, as a person or a screen reader meets it.

#include "support/MainLoopWait.h"
#include "support/WidgetTree.h"
#include "support/Xdotool.h"
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

    // A click on a toolbar button, made through the X server as a user makes it, leaves the keys
    // where they were: in the page below, not on the button (where Space right after an unlock
    // from the lock button would lock again).
    TEST(MainToolbar, aClickLeavesTheKeysInThePage)
    {
        adw_init();
        int lockToggles = 0;
        ToolbarActions actions;
        actions.toggleLock = [&] { ++lockToggles; };
        auto* headerBar = adw_header_bar_new();
        auto* page = gtk_entry_new();
        auto* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_append(GTK_BOX(content), headerBar);
        gtk_box_append(GTK_BOX(content), page);
        auto* window = adw_window_new();
        gtk_window_set_title(GTK_WINDOW(window), "Halcyra toolbar test");
        gtk_window_set_default_size(GTK_WINDOW(window), 800, 200);
        adw_window_set_content(ADW_WINDOW(window), content);
        MainToolbar toolbar(headerBar, "Ashgrove Workday", nullptr, std::move(actions));
        gtk_window_present(GTK_WINDOW(window));
        ASSERT_TRUE(runMainLoopUntil([&] { return gtk_widget_get_mapped(window); }));
        xdotool("Halcyra toolbar test$", "windowfocus --sync");
        ASSERT_TRUE(runMainLoopUntil([&] { return gtk_window_is_active(GTK_WINDOW(window)); }));
        gtk_widget_grab_focus(page);

        auto lockButtons = descendants(window, [](GtkWidget* widget) { return GTK_IS_BUTTON(widget) && g_strcmp0(gtk_widget_get_tooltip_text(widget), "Lock Workday") == 0; });
        ASSERT_EQ(lockButtons.size(), 1u);
        ASSERT_TRUE(runMainLoopUntil([&] { return gtk_widget_get_width(lockButtons[0]) > 0; }));
        graphene_point_t centre = GRAPHENE_POINT_INIT(gtk_widget_get_width(lockButtons[0]) / 2.0f, gtk_widget_get_height(lockButtons[0]) / 2.0f), inWindow;
        ASSERT_TRUE(gtk_widget_compute_point(lockButtons[0], window, &centre, &inWindow));
        // The window's surface also holds its shadow, around the widgets.
        double shadowX, shadowY;
        gtk_native_get_surface_transform(GTK_NATIVE(window), &shadowX, &shadowY);
        xdotool("Halcyra toolbar test$", "mousemove --window %1 " + std::to_string(int(inWindow.x + shadowX)) + " " + std::to_string(int(inWindow.y + shadowY)) + " click 1");
        ASSERT_TRUE(runMainLoopUntil([&] { return lockToggles == 1; }));
        auto* focus = gtk_window_get_focus(GTK_WINDOW(window));
        EXPECT_TRUE(focus && gtk_widget_is_ancestor(focus, page)) << (focus ? G_OBJECT_TYPE_NAME(focus) : "no focus");
        gtk_window_destroy(GTK_WINDOW(window));
    }

}
}

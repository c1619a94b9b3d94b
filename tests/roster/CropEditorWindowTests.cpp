// The framing editor window on a virtual display: the lock, its title, the keyboard framing
// actions and closing when the session ends.

#include "support/FakeLockCollaborators.h"

#include "lock/GateController.h"
#include "lock/TouchIDGate.h"
#include "platform/GLibRunLoop.h"
#include "roster/CropSession.h"
#include "ui/CropEditorWindow.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    GtkWidget* findDescendant(GtkWidget* widget, const std::function<bool(GtkWidget*)>& matches)
    {
        if (matches(widget))
            return widget;
        for (auto* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
            if (auto* found = findDescendant(child, matches))
                return found;
        }
        return nullptr;
    }

    GtkWidget* findButton(GtkWindow* window, const char* label)
    {
        return findDescendant(GTK_WIDGET(window), [&](GtkWidget* widget) { return GTK_IS_BUTTON(widget) && !g_strcmp0(gtk_button_get_label(GTK_BUTTON(widget)), label); });
    }

    void runPendingEvents()
    {
        while (g_main_context_iteration(nullptr, FALSE)) { }
    }

    // While the application is locked the photos give way to the "Locked" panel and Export is
    // disabled; its Unlock button runs the gate's prompt and the photos come back. The window
    // frames with its keyboard actions, names the course and closes when the session ends.
    TEST(CropEditorWindow, aLockedEditorHidesThePhotosUntilUnlockedThenFramesThemAndClosesWithTheSession)
    {
        adw_init();
        GLibRunLoop loop;
        FakeActivitySource activity;
        FakeSessionIdleTime idleTime(loop);
        FakeScreenEvents screenEvents;
        GateController lockController({ loop, activity, idleTime, screenEvents });
        FakeGateView gateView;
        FakeAuthenticator authenticator(loop);
        auto gate = std::make_shared<TouchIDGate>(gateView, authenticator);
        lockController.attach(gate);
        ASSERT_TRUE(lockController.isLocked());

        CropSession session(loop, [](std::vector<CropContact>, std::string) -> Task<ContactExportResult> { co_return ContactExportResult {}; });
        DisplayImage image { 80, 60, std::vector<std::uint8_t>(80 * 60 * 3, 128) };
        CropRect automatic { { 0.5, 0.5 }, 0.5 };
        session.present({ { "a", { "Ana", "Lima", "", "", "", { "COMP 112-01" }, std::nullopt }, "jpeg", std::make_shared<const DisplayImage>(image), automatic, automatic },
                            { "b", { "Ben", "", "", "", "", {}, std::nullopt }, std::nullopt, nullptr, defaultCrop, defaultCrop } },
            "COMP 112");
        auto* window = CropEditorWindow::create(session, lockController);
        GWeakRef closed;
        g_weak_ref_init(&closed, window);
        gtk_window_present(window);
        runPendingEvents();
        EXPECT_STREQ(gtk_window_get_title(window), "Adjust Photos \u2014 COMP 112");
        auto* stack = findDescendant(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_STACK(widget); });
        ASSERT_TRUE(stack);
        EXPECT_STREQ(gtk_stack_get_visible_child_name(GTK_STACK(stack)), "locked");
        EXPECT_FALSE(gtk_widget_get_sensitive(findButton(window, "Export")));

        auto* unlock = findButton(window, "Unlock");
        ASSERT_TRUE(unlock);
        g_signal_emit_by_name(unlock, "clicked");
        ASSERT_EQ(authenticator.prompts.size(), 1u);
        authenticator.answer(true);
        runPendingEvents();
        EXPECT_STREQ(gtk_stack_get_visible_child_name(GTK_STACK(stack)), "tiles");
        EXPECT_TRUE(gtk_widget_get_sensitive(findButton(window, "Export")));

        auto* photo = findDescendant(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_DRAWING_AREA(widget); });
        ASSERT_TRUE(photo) << "the contact with a photo has a framing tile";
        EXPECT_TRUE(gtk_widget_activate_action(photo, "tile.zoom-in", nullptr));
        EXPECT_NEAR(session.contacts()[0].crop.side, 0.5 / 1.15, 1e-9);
        EXPECT_TRUE(gtk_widget_activate_action(photo, "tile.reset-framing", nullptr));
        EXPECT_EQ(session.contacts()[0].crop, automatic);

        session.present(session.contacts(), "");
        runPendingEvents();
        EXPECT_STREQ(gtk_window_get_title(window), "Adjust Photos");

        session.cancel();
        runPendingEvents();
        auto* stillOpen = g_weak_ref_get(&closed);
        EXPECT_FALSE(stillOpen) << "the window closes when the session ends";
        if (stillOpen)
            g_object_unref(stillOpen);
        g_weak_ref_clear(&closed);
    }
}
}

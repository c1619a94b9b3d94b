// The framing editor window on a virtual display: the lock, its title, framing by keyboard
// alone, what a screen reader finds in it over AT-SPI, and closing when the session ends.

#include "support/FakeLockCollaborators.h"

#include "lock/GateController.h"
#include "lock/TouchIDGate.h"
#include "platform/GLibRunLoop.h"
#include "roster/CropSession.h"
#include "ui/CropEditorWindow.h"

#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <string>

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

    // Runs the loop until the condition holds (a limit, not a measurement).
    bool runUntil(const std::function<bool()>& condition, double seconds = 20)
    {
        auto deadline = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
        while (!condition()) {
            if (g_get_monotonic_time() > deadline)
                return false;
            g_main_context_iteration(nullptr, FALSE);
            g_usleep(1000);
        }
        return true;
    }

    // Real key presses from the X server, as a user types them, to the window with this title.
    void pressKey(const char* title, const char* key)
    {
        auto command = std::string("xdotool search --name '^") + title + "' windowfocus --sync key " + key;
        ASSERT_TRUE(g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, nullptr, nullptr)) << command;
    }

    // The accessibility bus, with the registry started on demand. Its launcher is waited for by
    // name, not asked for the bus, which would start a second launcher through D-Bus.
    GSubprocess* startAccessibilityBus()
    {
        auto* launcher = g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, nullptr, "/usr/libexec/at-spi-bus-launcher", "--launch-immediately", nullptr);
        EXPECT_TRUE(launcher) << "at-spi2-core is installed";
        auto* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        EXPECT_TRUE(runUntil([&] {
            GVariant* reply = g_dbus_connection_call_sync(session, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                g_variant_new("(s)", "org.a11y.Bus"), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
            gboolean hasOwner = FALSE;
            if (reply) {
                g_variant_get(reply, "(b)", &hasOwner);
                g_variant_unref(reply);
            }
            return hasOwner;
        })) << "the accessibility bus launcher is on the session bus";
        g_object_unref(session);
        return launcher;
    }

    // What a screen reader finds in the window, as JSON from the application tests' walker: the
    // controls, and those it cannot use (no name, or a button without an action). The loop
    // answers the walker's questions meanwhile.
    std::string accessibilityTree(const char* title)
    {
        auto* walker = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr, "/usr/bin/python3", HALCYRA_SOURCE_DIR "/tests/app/accessibility_tree.py", title, nullptr);
        if (!walker)
            return "the walker did not start";
        struct Result {
            bool isDone { false };
            char* output { nullptr };
        } result;
        g_subprocess_communicate_utf8_async(
            walker, nullptr, nullptr, [](GObject* walker, GAsyncResult* asyncResult, gpointer data) {
            auto* result = static_cast<Result*>(data);
            g_subprocess_communicate_utf8_finish(G_SUBPROCESS(walker), asyncResult, &result->output, nullptr, nullptr);
            result->isDone = true; }, &result);
        runUntil([&] { return result.isDone; }, 60);
        g_object_unref(walker);
        std::string output = result.output ? result.output : "";
        g_free(result.output);
        return output;
    }

    // While the application is locked the photos give way to the "Locked" panel and Export is
    // disabled; its Unlock button runs the gate's prompt and the photos come back. The window
    // frames with its keyboard actions, names the course and closes when the session ends.
    TEST(CropEditorWindow, aLockedEditorHidesThePhotosUntilUnlockedThenFramesThemAndClosesWithTheSession)
    {
        // The name the walker knows a Halcyra program by.
        g_set_prgname("halcyra-crop-editor-tests");
        adw_init();
        auto* accessibilityBus = startAccessibilityBus();
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

        // Every control named, every button with an action, the tiles included.
        auto tree = accessibilityTree("Adjust Photos \u2014 COMP 112");
        EXPECT_NE(tree.find("{\"role\": \"image\", \"name\": \"Ana Lima\", \"actions\": [\"tile."), std::string::npos) << tree;
        EXPECT_NE(tree.find("\"problems\": []"), std::string::npos) << tree;

        // Framing by keyboard alone: Tab reaches the tile, then zoom, move and reset.
        auto* photo = findDescendant(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_DRAWING_AREA(widget); });
        ASSERT_TRUE(photo) << "the contact with a photo has a framing tile";
        for (int presses = 0; presses < 12 && !gtk_widget_has_focus(photo); ++presses) {
            auto* focus = gtk_window_get_focus(window);
            pressKey("Adjust Photos", "Tab");
            runUntil([&] { return gtk_window_get_focus(window) != focus; }, 2);
        }
        ASSERT_TRUE(gtk_widget_has_focus(photo)) << "Tab reaches the framing tile";
        pressKey("Adjust Photos", "plus");
        EXPECT_TRUE(runUntil([&] { return std::abs(session.contacts()[0].crop.side - 0.5 / 1.15) < 1e-9; })) << "+ zooms in";
        pressKey("Adjust Photos", "Right");
        EXPECT_TRUE(runUntil([&] { return session.contacts()[0].crop.center.x > 0.5; })) << "an arrow key moves the framing";
        pressKey("Adjust Photos", "BackSpace");
        EXPECT_TRUE(runUntil([&] { return session.contacts()[0].crop == automatic; })) << "Backspace resets the framing";

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
        // The launcher ends the accessibility bus, and with it the registry, on the way out.
        g_subprocess_send_signal(accessibilityBus, SIGTERM);
        g_subprocess_wait(accessibilityBus, nullptr, nullptr);
        g_object_unref(accessibilityBus);
    }
}
}

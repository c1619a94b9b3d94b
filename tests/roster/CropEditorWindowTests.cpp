// The framing editor window on a virtual display: the lock, its title, framing by keyboard
// alone, what a screen reader finds in it over AT-SPI, and closing when the session ends.

#include "support/FakeLockCollaborators.h"
#include "support/MainLoopWait.h"

#include "lock/GateController.h"
#include "lock/TouchIDGate.h"
#include "platform/glib/GLibRunLoop.h"
#include "roster/CropSession.h"
#include "ui/CropEditorWindow.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
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

    std::vector<GtkWidget*> findAll(GtkWidget* widget, const std::function<bool(GtkWidget*)>& matches)
    {
        std::vector<GtkWidget*> found;
        if (matches(widget))
            found.push_back(widget);
        for (auto* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
            auto more = findAll(child, matches);
            found.insert(found.end(), more.begin(), more.end());
        }
        return found;
    }

    // The columns of the grid, each holding one tile.
    std::vector<GtkWidget*> tileColumns(GtkWindow* window)
    {
        return findAll(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_FLOW_BOX_CHILD(gtk_widget_get_parent(widget)); });
    }

    // What the window shows, as a PNG in HALCYRA_SCREENSHOT_DIR when it is set, for a person to
    // look at; drawn by GTK itself, so it works on any display server.
    void saveScreenshot(GtkWindow* window, const char* name)
    {
        const char* folder = std::getenv("HALCYRA_SCREENSHOT_DIR");
        if (!folder)
            return;
        g_mkdir_with_parents(folder, 0755);
        int width = gtk_widget_get_width(GTK_WIDGET(window));
        int height = gtk_widget_get_height(GTK_WIDGET(window));
        auto* paintable = gtk_widget_paintable_new(GTK_WIDGET(window));
        auto* snapshot = gtk_snapshot_new();
        gdk_paintable_snapshot(paintable, snapshot, width, height);
        auto* node = gtk_snapshot_free_to_node(snapshot);
        ASSERT_TRUE(node);
        graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
        auto* texture = gsk_renderer_render_texture(gtk_native_get_renderer(GTK_NATIVE(window)), node, &bounds);
        auto path = std::string(folder) + "/" + name;
        EXPECT_TRUE(gdk_texture_save_to_png(texture, path.c_str())) << path;
        g_object_unref(texture);
        gsk_render_node_unref(node);
        g_object_unref(paintable);
    }

    // A photo with something to frame: a warm disc on a cool gradient.
    std::shared_ptr<const DisplayImage> samplePhoto(int hue)
    {
        DisplayImage image { 300, 400, std::vector<std::uint8_t>(300 * 400 * 3) };
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                auto* pixel = &image.rgb[(std::size_t(y) * image.width + x) * 3];
                bool isFace = (x - 150) * (x - 150) + (y - 160) * (y - 160) < 70 * 70;
                pixel[0] = isFace ? 230 : std::uint8_t(40 + hue);
                pixel[1] = isFace ? 180 : std::uint8_t(80 + y / 4);
                pixel[2] = isFace ? 140 : std::uint8_t(200 - y / 4);
            }
        }
        return std::make_shared<const DisplayImage>(std::move(image));
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
        EXPECT_TRUE(runMainLoopUntil([&] {
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
        runMainLoopUntil([&] { return result.isDone; }, std::chrono::seconds(60));
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
            runMainLoopUntil([&] { return gtk_window_get_focus(window) != focus; }, std::chrono::seconds(2));
        }
        ASSERT_TRUE(gtk_widget_has_focus(photo)) << "Tab reaches the framing tile";
        pressKey("Adjust Photos", "plus");
        EXPECT_TRUE(runMainLoopUntil([&] { return std::abs(session.contacts()[0].crop.side - 0.5 / 1.15) < 1e-9; })) << "+ zooms in";
        pressKey("Adjust Photos", "Right");
        EXPECT_TRUE(runMainLoopUntil([&] { return session.contacts()[0].crop.center.x > 0.5; })) << "an arrow key moves the framing";
        pressKey("Adjust Photos", "BackSpace");
        EXPECT_TRUE(runMainLoopUntil([&] { return session.contacts()[0].crop == automatic; })) << "Backspace resets the framing";

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

    // Columns are as wide as the window allows between 220 and 340 points, and while a photo is
    // being dragged the wheel does not scroll the grid under it.
    TEST(CropEditorWindow, columnsStayBetween220And340WideAndTheWheelLeavesTheGridWhileAPhotoMoves)
    {
        adw_init();
        g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
        GLibRunLoop loop;
        FakeActivitySource activity;
        FakeSessionIdleTime idleTime(loop);
        FakeScreenEvents screenEvents;
        GateController lockController({ loop, activity, idleTime, screenEvents });
        lockController.openForFirstSignIn();
        CropSession session(loop, [](std::vector<CropContact>, std::string) -> Task<ContactExportResult> { co_return ContactExportResult {}; });
        std::vector<CropContact> contacts;
        const char* names[] = { "Ana", "Ben", "Chloé", "Dev", "Eun", "Femi", "Gus", "Hana", "Ivo", "Jun", "Kai", "Lea" };
        for (int index = 0; index < 12; ++index) {
            CropRect automatic { { 0.5, 0.4 }, 0.6 };
            contacts.push_back({ std::to_string(index), { names[index], "Lima", "", "", "", { "COMP 112-01" }, std::nullopt }, "jpeg",
                index % 5 == 4 ? nullptr : samplePhoto(index * 15), automatic, automatic });
        }
        session.present(contacts, "COMP 112");

        auto open = [&](int width, int height) {
            auto* window = CropEditorWindow::create(session, lockController);
            gtk_window_set_default_size(window, width, height);
            gtk_window_present(window);
            EXPECT_TRUE(runMainLoopUntil([&] {
                auto columns = tileColumns(window);
                return columns.size() == 12 && gtk_widget_get_width(gtk_widget_get_first_child(columns.back())) > 0;
            }));
            return window;
        };
        for (int width : { 420, 600, 980, 1400 }) {
            SCOPED_TRACE(width);
            auto* window = open(width, 700);
            std::multiset<int> rows;
            for (auto* column : tileColumns(window)) {
                int tileWidth = gtk_widget_get_width(gtk_widget_get_first_child(column));
                EXPECT_GE(tileWidth, 220);
                EXPECT_LE(tileWidth, 340);
                graphene_point_t corner = GRAPHENE_POINT_INIT(0, 0);
                graphene_point_t origin;
                ASSERT_TRUE(gtk_widget_compute_point(column, GTK_WIDGET(window), &corner, &origin));
                rows.insert(int(origin.y));
            }
            // As many columns as fit at 220 points with 20 between them and 20 around the grid
            // (give or take a point where they fit exactly).
            auto* scroller = findDescendant(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_SCROLLED_WINDOW(widget); });
            int space = gtk_widget_get_width(scroller) - 2 * 20;
            int columns = int(rows.count(*rows.begin()));
            EXPECT_LE(columns * 240 - 20, space) << columns << " columns in " << space;
            EXPECT_GT((columns + 1) * 240 - 20, space - 2) << columns << " columns in " << space;
            if (width == 980)
                saveScreenshot(window, "framing-editor.png");
            gtk_window_destroy(window);
        }

        session.present(contacts, "Wheel");
        auto* window = open(420, 600);
        auto* scroller = findDescendant(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_SCROLLED_WINDOW(widget); });
        ASSERT_TRUE(scroller);
        auto* offset = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller));
        auto* photo = findDescendant(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_DRAWING_AREA(widget); });
        graphene_point_t centre = GRAPHENE_POINT_INIT(gtk_widget_get_width(photo) / 2.0f, gtk_widget_get_height(photo) / 2.0f);
        graphene_point_t middle;
        ASSERT_TRUE(gtk_widget_compute_point(photo, GTK_WIDGET(window), &centre, &middle));
        auto xdotool = [](const std::string& steps) {
            auto command = "xdotool search --sync --name '^Adjust Photos \u2014 Wheel$' " + steps;
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        };

        // The wheel turns while the photo is dragged: the photo moves, the grid does not.
        auto before = session.contacts()[0].crop;
        xdotool("mousemove --window %1 " + std::to_string(int(middle.x)) + " " + std::to_string(int(middle.y)) + " mousedown 1 mousemove_relative -- 30 30 click 5 click 5 mouseup 1");
        ASSERT_TRUE(runMainLoopUntil([&] { return session.contacts()[0].crop != before; })) << "the drag moved the photo";
        EXPECT_EQ(gtk_adjustment_get_value(offset), 0);

        // Without a drag the wheel scrolls the grid.
        xdotool("click 5");
        EXPECT_TRUE(runMainLoopUntil([&] { return gtk_adjustment_get_value(offset) > 0; }));
        gtk_window_destroy(window);
    }
}
}

// The framing editor window on a virtual display: the lock, its title, framing by keyboard
// alone and by pointer, what a screen reader finds in it over AT-SPI, its columns, and closing
// when the session ends.

#include "support/FakeLockCollaborators.h"
#include "support/MainLoopWait.h"
#include "support/WidgetTree.h"
#include "support/Xdotool.h"

#include "lock/GateController.h"
#include "lock/TouchIDGate.h"
#include "platform/glib/GLibRunLoop.h"
#include "roster/CropSession.h"
#include "ui/CropEditorWindow.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace halcyra {
namespace {

    // The first widget of the type in the window, a button also by its label.
    GtkWidget* find(GtkWindow* window, GType type, const char* label = nullptr)
    {
        auto found = descendants(GTK_WIDGET(window), [&](GtkWidget* widget) {
            return G_TYPE_CHECK_INSTANCE_TYPE(widget, type) && (!label || !g_strcmp0(gtk_button_get_label(GTK_BUTTON(widget)), label));
        });
        return found.empty() ? nullptr : found.front();
    }

    // The framing tiles, one in each column of the grid.
    std::vector<GtkWidget*> tiles(GtkWindow* window)
    {
        auto columns = descendants(GTK_WIDGET(window), [](GtkWidget* widget) { return GTK_IS_FLOW_BOX_CHILD(gtk_widget_get_parent(widget)); });
        std::ranges::transform(columns, columns.begin(), gtk_widget_get_first_child);
        return columns;
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

    // Contacts with something to frame: a warm disc on a cool gradient; every fifth from the
    // second has no photo.
    std::vector<CropContact> sampleContacts(int count)
    {
        const char* names[] = { "Ana", "Ben", "Chloé", "Dev", "Eun", "Femi", "Gus", "Hana", "Ivo", "Jun", "Kai", "Lea" };
        std::vector<CropContact> contacts;
        for (int index = 0; index < count; ++index) {
            DisplayImage image { 300, 400, std::vector<std::uint8_t>(300 * 400 * 3) };
            for (int y = 0; y < image.height; ++y) {
                for (int x = 0; x < image.width; ++x) {
                    auto* pixel = &image.rgb[(std::size_t(y) * image.width + x) * 3];
                    bool isFace = (x - 150) * (x - 150) + (y - 160) * (y - 160) < 70 * 70;
                    pixel[0] = isFace ? 230 : std::uint8_t(40 + index * 15);
                    pixel[1] = isFace ? 180 : std::uint8_t(80 + y / 4);
                    pixel[2] = isFace ? 140 : std::uint8_t(200 - y / 4);
                }
            }
            bool hasPhoto = index % 5 != 1;
            CropRect automatic { { 0.5, 0.4 }, 0.6 };
            contacts.push_back({ std::to_string(index), { names[index], "Lima", "", "", "", { "COMP 112-01" }, std::nullopt }, hasPhoto ? std::optional<std::string>("jpeg") : std::nullopt,
                hasPhoto ? std::make_shared<const DisplayImage>(std::move(image)) : nullptr, automatic, automatic });
        }
        return contacts;
    }

    class CropEditorWindowTest : public ::testing::Test {
    protected:
        // The accessibility bus, with the registry started on demand, before GTK looks for it.
        static void SetUpTestSuite()
        {
            accessibilityBus = g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, nullptr, "/usr/libexec/at-spi-bus-launcher", "--launch-immediately", nullptr);
            ASSERT_TRUE(accessibilityBus) << "at-spi2-core is installed";
            ASSERT_EQ(std::system("gdbus wait --session --timeout 20 org.a11y.Bus"), 0) << "the accessibility bus is on the session bus";
            // The name the accessibility walker knows a Halcyra program by.
            g_set_prgname("halcyra-crop-editor-tests");
            adw_init();
            g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
        }

        // The launcher ends the accessibility bus, and with it the registry, on the way out.
        static void TearDownTestSuite()
        {
            g_subprocess_send_signal(accessibilityBus, SIGTERM);
            g_subprocess_wait(accessibilityBus, nullptr, nullptr);
            g_object_unref(accessibilityBus);
        }

        // A new window of the session, laid out with every tile placed.
        GtkWindow* open(int width, int height)
        {
            auto* window = CropEditorWindow::create(session, lockController);
            gtk_window_set_default_size(window, width, height);
            gtk_window_present(window);
            EXPECT_TRUE(runMainLoopUntil([&] {
                auto shown = tiles(window);
                return shown.size() == session.contacts().size() && gtk_widget_get_width(shown.back()) > 0;
            }));
            return window;
        }

        static inline GSubprocess* accessibilityBus;
        GLibRunLoop loop;
        FakeActivitySource activity;
        FakeSessionIdleTime idleTime { loop };
        FakeScreenEvents screenEvents;
        GateController lockController { { loop, activity, idleTime, screenEvents } };
        CropSession session { loop, [](std::vector<CropContact>, std::string) -> Task<ContactExportResult> { co_return ContactExportResult {}; } };
    };

    // What a screen reader finds in the window, as JSON from the application tests' walker: the
    // controls, and those it cannot use (no name, or a button without an action). The loop
    // answers the walker's questions meanwhile; the application registers with the registry
    // while it runs, so a walker that finds no window looks again.
    std::string accessibilityTree(const std::string& title)
    {
        std::string tree;
        for (int look = 0; look < 10 && (tree.empty() || tree.starts_with("{\"missing\"")); ++look) {
            auto walker = std::async(std::launch::async, [title] {
                gchar* output = nullptr;
                auto command = "/usr/bin/python3 " HALCYRA_SOURCE_DIR "/tests/app/accessibility_tree.py '" + title + "'";
                g_spawn_command_line_sync(command.c_str(), &output, nullptr, nullptr, nullptr);
                std::string tree = output ? output : "the walker did not run";
                g_free(output);
                return tree;
            });
            runMainLoopUntil([&] { return walker.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, std::chrono::seconds(60));
            tree = walker.get();
        }
        return tree;
    }

    // While the application is locked the photos give way to the "Locked" panel and Export is
    // disabled; its Unlock button runs the gate's prompt and the photos come back. The window
    // frames with its keyboard actions, names the course and closes when the session ends.
    TEST_F(CropEditorWindowTest, aLockedEditorHidesThePhotosUntilUnlockedThenFramesThemAndClosesWithTheSession)
    {
        FakeGateView gateView;
        FakeAuthenticator authenticator(loop);
        auto gate = std::make_shared<TouchIDGate>(gateView, authenticator);
        lockController.attach(gate);
        ASSERT_TRUE(lockController.isLocked());
        session.present(sampleContacts(2), "COMP 112");
        auto automatic = session.contacts()[0].autoCrop;
        auto* window = CropEditorWindow::create(session, lockController);
        static gpointer alive;
        alive = window;
        g_object_add_weak_pointer(G_OBJECT(window), &alive);
        gtk_window_present(window);
        auto* stack = find(window, GTK_TYPE_STACK);
        ASSERT_TRUE(stack);
        EXPECT_TRUE(runMainLoopUntil([&] { return !g_strcmp0(gtk_stack_get_visible_child_name(GTK_STACK(stack)), "locked"); }));
        EXPECT_STREQ(gtk_window_get_title(window), "Adjust Photos \u2014 COMP 112");
        EXPECT_FALSE(gtk_widget_get_sensitive(find(window, GTK_TYPE_BUTTON, "Export")));

        auto* unlock = find(window, GTK_TYPE_BUTTON, "Unlock");
        ASSERT_TRUE(unlock);
        g_signal_emit_by_name(unlock, "clicked");
        ASSERT_EQ(authenticator.prompts.size(), 1u);
        authenticator.answer(true);
        EXPECT_TRUE(runMainLoopUntil([&] { return !g_strcmp0(gtk_stack_get_visible_child_name(GTK_STACK(stack)), "tiles"); }));
        EXPECT_TRUE(gtk_widget_get_sensitive(find(window, GTK_TYPE_BUTTON, "Export")));

        // Every control named, every button with an action, the tiles included.
        auto tree = accessibilityTree("Adjust Photos \u2014 COMP 112");
        EXPECT_NE(tree.find("{\"role\": \"image\", \"name\": \"Ana Lima\", \"actions\": [\"tile."), std::string::npos) << tree;
        EXPECT_NE(tree.find("\"problems\": []"), std::string::npos) << tree;

        // Framing by keyboard alone: Tab reaches the tile, then zoom, move and reset.
        auto* photo = find(window, GTK_TYPE_DRAWING_AREA);
        ASSERT_TRUE(photo) << "the contact with a photo has a framing tile";
        for (int presses = 0; presses < 12 && !gtk_widget_has_focus(photo); ++presses) {
            auto* focus = gtk_window_get_focus(window);
            xdotool("Adjust Photos", "windowfocus --sync key Tab");
            runMainLoopUntil([&] { return gtk_window_get_focus(window) != focus; }, std::chrono::seconds(2));
        }
        ASSERT_TRUE(gtk_widget_has_focus(photo)) << "Tab reaches the framing tile";
        xdotool("Adjust Photos", "windowfocus --sync key plus");
        EXPECT_TRUE(runMainLoopUntil([&] { return std::abs(session.contacts()[0].crop.side - automatic.side / 1.15) < 1e-9; })) << "+ zooms in";
        xdotool("Adjust Photos", "windowfocus --sync key Right");
        EXPECT_TRUE(runMainLoopUntil([&] { return session.contacts()[0].crop.center.x > 0.5; })) << "an arrow key moves the framing";
        xdotool("Adjust Photos", "windowfocus --sync key BackSpace");
        EXPECT_TRUE(runMainLoopUntil([&] { return session.contacts()[0].crop == automatic; })) << "Backspace resets the framing";

        session.present(session.contacts(), "");
        EXPECT_TRUE(runMainLoopUntil([&] { return !g_strcmp0(gtk_window_get_title(window), "Adjust Photos"); }));

        session.cancel();
        EXPECT_TRUE(runMainLoopUntil([] { return !alive; })) << "the window closes when the session ends";
    }

    // Columns are as wide as the window allows between 220 and 340 points, and while a photo is
    // being dragged the wheel does not scroll the grid under it.
    TEST_F(CropEditorWindowTest, columnsStayBetween220And340WideAndTheWheelLeavesTheGridWhileAPhotoMoves)
    {
        lockController.openForFirstSignIn();
        session.present(sampleContacts(12), "COMP 112");
        for (int width : { 420, 600, 980, 1400 }) {
            SCOPED_TRACE(width);
            auto* window = open(width, 700);
            std::multiset<int> rows;
            for (auto* tile : tiles(window)) {
                EXPECT_GE(gtk_widget_get_width(tile), 220);
                EXPECT_LE(gtk_widget_get_width(tile), 340);
                graphene_point_t corner = GRAPHENE_POINT_INIT(0, 0), origin;
                ASSERT_TRUE(gtk_widget_compute_point(tile, GTK_WIDGET(window), &corner, &origin));
                rows.insert(int(origin.y));
            }
            // As many columns as fit at 220 points with 20 between them and 20 around the grid
            // (give or take a point where they fit exactly).
            int space = gtk_widget_get_width(find(window, GTK_TYPE_SCROLLED_WINDOW)) - 2 * 20;
            int columns = int(rows.count(*rows.begin()));
            EXPECT_LE(columns * 240 - 20, space) << columns << " columns in " << space;
            EXPECT_GT((columns + 1) * 240 - 20, space - 2) << columns << " columns in " << space;
            if (width == 980)
                saveScreenshot(window, "framing-editor.png");
            gtk_window_destroy(window);
        }

        session.present(session.contacts(), "Wheel");
        auto* window = open(420, 600);
        auto* offset = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(find(window, GTK_TYPE_SCROLLED_WINDOW)));
        auto* photo = find(window, GTK_TYPE_DRAWING_AREA);
        graphene_point_t centre = GRAPHENE_POINT_INIT(gtk_widget_get_width(photo) / 2.0f, gtk_widget_get_height(photo) / 2.0f), middle;
        ASSERT_TRUE(gtk_widget_compute_point(photo, GTK_WIDGET(window), &centre, &middle));

        // The pointer's last move as the window saw it. The X server's events arrive in order:
        // once the window has seen the move made after the drag (past where the drag went, give
        // or take the frame around the window's contents), it has handled the drag's wheel
        // clicks too.
        double lastSeenX = 0;
        auto* motion = gtk_event_controller_motion_new();
        gtk_event_controller_set_propagation_phase(motion, GTK_PHASE_CAPTURE);
        g_signal_connect(motion, "motion", G_CALLBACK(+[](GtkEventControllerMotion*, double x, double, gpointer seen) { *static_cast<double*>(seen) = x; }), &lastSeenX);
        gtk_widget_add_controller(GTK_WIDGET(window), motion);

        // The wheel turns while the photo is dragged: the photo moves, the grid does not.
        auto before = session.contacts()[0].crop;
        xdotool("Adjust Photos \u2014 Wheel$", "mousemove --window %1 " + std::to_string(int(middle.x)) + " " + std::to_string(int(middle.y)) + " mousedown 1 mousemove_relative -- 30 30 click 5 click 5 mouseup 1 mousemove_relative -- 40 0");
        ASSERT_TRUE(runMainLoopUntil([&] { return lastSeenX > middle.x + 50; })) << "the window saw the move after the drag";
        EXPECT_NE(session.contacts()[0].crop, before) << "the drag moved the photo";
        EXPECT_EQ(gtk_adjustment_get_value(offset), 0);

        // Without a drag the wheel scrolls the grid.
        xdotool("Adjust Photos \u2014 Wheel$", "click 5");
        EXPECT_TRUE(runMainLoopUntil([&] { return gtk_adjustment_get_value(offset) > 0; }));
        gtk_window_destroy(window);
    }
}
}

#include "../platform/ServiceTestSupport.h"
#include "lock/TouchIDGate.h"
#include "platform/glib/GLibRunLoop.h"
#include "support/FakeLockCollaborators.h"
#include "support/Xdotool.h"
#include "ui/LockGateOverlay.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

using namespace halcyra;

namespace {

constexpr const char* windowTitle = "Halcyra lock gate test";

// Real key strokes and clicks through the X server to whichever window has the focus.
void runXdotool(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "xdotool");
    auto result = runCommand(arguments);
    ASSERT_EQ(result.exitStatus, 0) << result.output;
}

void type(const std::string& text) { runXdotool({ "type", "--delay", "20", text }); }

// A window with a field above the overlay (outside the covered area) and, under the gate, the
// real engine showing a page with a focused text field.
class LockGateOverlayTest : public testing::Test {
protected:
    void SetUp() override
    {
        window = gtk_window_new();
        gtk_window_set_title(GTK_WINDOW(window), windowTitle);
        gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
        auto* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        outsideField = gtk_entry_new();
        page = webkit_web_view_new();
        webkit_web_view_load_html(WEBKIT_WEB_VIEW(page), "<input id='field' autofocus>", "about:blank");
        gtk_widget_set_vexpand(page, TRUE);
        overlay = std::make_unique<LockGateOverlay>(page, authenticator);
        gtk_box_append(GTK_BOX(box), outsideField);
        gtk_box_append(GTK_BOX(box), overlay->widget());
        gtk_window_set_child(GTK_WINDOW(window), box);
        gtk_window_present(GTK_WINDOW(window));
        ASSERT_TRUE(runMainLoopUntil([&] { return gtk_widget_get_mapped(window) && !webkit_web_view_is_loading(WEBKIT_WEB_VIEW(page)); }));
        xdotool(std::string(windowTitle) + "$", "windowfocus --sync");
        ASSERT_TRUE(runMainLoopUntil([&] { return gtk_window_is_active(GTK_WINDOW(window)); }));
    }

    void TearDown() override
    {
        gtk_window_destroy(GTK_WINDOW(window));
        overlay = nullptr;
    }

    GtkWidget* focus() const { return gtk_window_get_focus(GTK_WINDOW(window)); }
    TouchIDGate& gate() const { return *overlay->gate(); }
    std::string pageValue()
    {
        std::optional<std::string> value;
        webkit_web_view_evaluate_javascript(
            WEBKIT_WEB_VIEW(page), "document.getElementById('field').value", -1, nullptr, nullptr, nullptr, [](GObject* view, GAsyncResult* result, gpointer value) {
            auto jsValue = adoptGRef(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr));
            *static_cast<std::optional<std::string>*>(value) = jsValue ? GUniquePtr<char>(jsc_value_to_string(jsValue.get())).get() : "(no value)"; }, &value);
        EXPECT_TRUE(runMainLoopUntil([&] { return value.has_value(); }));
        return value.value_or("");
    }

    GLibRunLoop loop;
    FakeAuthenticator authenticator { loop };
    GtkWidget* window { nullptr };
    GtkWidget* outsideField { nullptr };
    GtkWidget* page { nullptr };
    std::unique_ptr<LockGateOverlay> overlay;
};

TEST_F(LockGateOverlayTest, aClickOrReturnOnTheGateAsksForTheUnlockAndTypingWhileLockedPutsNothingIntoThePage)
{
    // Unlocked, typing reaches the page's field.
    gate().hideWithoutAuthentication();
    gtk_widget_grab_focus(page);
    type("ok");
    ASSERT_TRUE(runMainLoopUntil([&] { return pageValue() == "ok"; }, std::chrono::seconds(10)));

    // A click on the covered page asks for authentication and does not reach the page;
    // unlocking returns the focus to the page.
    gate().lock();
    EXPECT_EQ(focus(), overlay->gateWidget());
    // The gate is laid out again on the next frame, as it appears to the user.
    ASSERT_TRUE(runMainLoopUntil([&] { return gtk_widget_get_height(overlay->gateWidget()) > 0; }));
    int x = gtk_widget_get_width(window) / 2;
    int y = gtk_widget_get_height(window) - 40;
    xdotool(std::string(windowTitle) + "$", "mousemove --window %1 " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    ASSERT_TRUE(runMainLoopUntil([&] { return authenticator.prompts.size() == 1; }));
    EXPECT_EQ(focus(), overlay->gateWidget()) << "the click reached the page";
    authenticator.answer(true);
    ASSERT_TRUE(runMainLoopUntil([&] { return !gate().isShown(); }));
    EXPECT_EQ(focus(), page);
    type("go");
    ASSERT_TRUE(runMainLoopUntil([&] { return pageValue() == "okgo"; }, std::chrono::seconds(10)));

    // Focus can still land in the covered page by other means; the first key takes it back.
    gate().lock();
    gtk_widget_grab_focus(page);
    type("abc");
    ASSERT_TRUE(runMainLoopUntil([&] { return focus() == overlay->gateWidget(); }));
    // From the keyboard alone, Return on the focused gate asks for the unlock, as a click does.
    runXdotool({ "key", "Return" });
    ASSERT_TRUE(runMainLoopUntil([&] { return authenticator.prompts.size() == 2; }));
    gtk_widget_grab_focus(outsideField);
    type("xyz");
    ASSERT_TRUE(runMainLoopUntil([&] { return std::string(gtk_editable_get_text(GTK_EDITABLE(outsideField))).ends_with("xyz"); }));
    EXPECT_EQ(pageValue(), "okgo");
}

}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    gtk_init();
    return RUN_ALL_TESTS();
}

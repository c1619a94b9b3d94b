#include "../platform/ServiceTestSupport.h"
#include "support/Xdotool.h"
#include "ui/PasswordDialog.h"

#include <adwaita.h>
#include <gtest/gtest.h>

using namespace halcyra;

namespace {

// Fails the test on every GLib or GTK warning or critical logged while it lives: each is a fault
// (a freed widget called, a bad cast) that a release build lets pass.
class FailOnWarnings {
public:
    FailOnWarnings()
    {
        for (auto* domain : domains)
            m_handlers.push_back(g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL), fail, nullptr));
    }
    ~FailOnWarnings()
    {
        for (std::size_t i = 0; i < m_handlers.size(); ++i)
            g_log_remove_handler(domains[i], m_handlers[i]);
    }

private:
    static void fail(const char* domain, GLogLevelFlags, const char* message, gpointer) { ADD_FAILURE() << domain << ": " << message; }
    static constexpr const char* domains[] = { "GLib-GObject", "Gtk" };
    std::vector<guint> m_handlers;
};

AdwMessageDialog* shownDialog()
{
    auto* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
        auto window = adoptGRef(G_OBJECT(g_list_model_get_item(toplevels, i)));
        if (ADW_IS_MESSAGE_DIALOG(window.get()) && gtk_widget_get_visible(GTK_WIDGET(window.get())))
            return ADW_MESSAGE_DIALOG(window.get());
    }
    return nullptr;
}

// The dialog as the user meets it: the active window, its password field focused.
AdwMessageDialog* activeDialog()
{
    auto* dialog = shownDialog();
    if (!dialog || !runMainLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(dialog)); }))
        return nullptr;
    xdotool("Unlock Workday$", "windowfocus --sync");
    if (!runMainLoopUntil([&] { return gtk_window_is_active(GTK_WINDOW(dialog)); }))
        return nullptr;
    return dialog;
}

// However the dialog ends while its field has the focus, it answers once (a withdrawn dialog not
// at all) and leaves nothing freed behind to be called.
TEST(PasswordDialog, answersOnceAndLeavesNothingBehindHoweverItEnds)
{
    struct Row {
        const char* end;
        std::function<void(std::unique_ptr<PasswordPrompt::Handle>&)> ends;
        std::optional<std::optional<std::string>> answer;
    };
    const Row rows[] = {
        { "Return", [](auto&) { runCommand({ "xdotool", "type", "secret" }); runCommand({ "xdotool", "key", "Return" }); }, std::optional<std::string>("secret") },
        { "Escape", [](auto&) { runCommand({ "xdotool", "key", "Escape" }); }, std::optional<std::string>() },
        { "withdrawn", [](auto& handle) { handle = nullptr; }, std::nullopt },
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.end);
        FailOnWarnings failOnWarnings;
        PasswordDialog prompt;
        std::vector<std::optional<std::string>> answers;
        auto handle = prompt.ask("Unlock Workday", [&](std::optional<std::string> password) { answers.push_back(std::move(password)); });
        auto* dialog = activeDialog();
        ASSERT_NE(dialog, nullptr);
        // The field's last focus change comes as the window lets its widgets go, before it is freed.
        bool isFreed = false;
        g_object_weak_ref(
            G_OBJECT(dialog), [](gpointer isFreed, GObject*) { *static_cast<bool*>(isFreed) = true; }, &isFreed);
        row.ends(handle);
        ASSERT_TRUE(runMainLoopUntil([&] { return isFreed; }));
        auto expected = row.answer ? std::vector { *row.answer } : std::vector<std::optional<std::string>> {};
        EXPECT_EQ(answers, expected);
        handle = nullptr;
    }
}

}

#include "ServiceTestSupport.h"
#include "platform/desktop/DesktopScreenEvents.h"
#include "platform/glib/GLibRunLoop.h"
#include "platform/auth/PolkitAuthenticator.h"
#include "support/EnvironmentOverride.h"
#include "support/FakeLockCollaborators.h"

#include <gtest/gtest.h>

using namespace halcyra;

namespace {

GRefPtr<GVariant> callPolkitMock(const char* method, GVariant* arguments = nullptr)
{
    auto bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
    GUniqueOutPtr<GError> error;
    auto reply = adoptGRef(g_dbus_connection_call_sync(bus.get(), "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
        "org.freedesktop.DBus.Mock", method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
    EXPECT_TRUE(reply) << method << ": " << (error ? error->message : "");
    return reply;
}

unsigned waitingPolkitChecks()
{
    auto reply = callPolkitMock("WaitingCount");
    guint32 count = 0;
    if (reply)
        g_variant_get(reply.get(), "(u)", &count);
    return count;
}

void emitPrepareForSleep(bool isGoingToSleep)
{
    callSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal",
        g_variant_new_parsed("('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [<%b>])", isGoingToSleep));
}

// What the lock gate hears from the session's real services: the events that lock the window
// (which events lock it is the gate's own rule) and the waking that leaves it as it is.
TEST(LockServices, sleepSessionLockAndScreensaverArriveAsTheirScreenEvents)
{
    callSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession",
        g_variant_new("(ssusb)", "c1", "seat0", 1000u, "owner", TRUE));
    const char* sessionPath = "/org/freedesktop/login1/session/c1";
    EnvironmentOverride sessionID("XDG_SESSION_ID", "c1");
    DesktopScreenEvents screenEvents;
    ASSERT_TRUE(runMainLoopUntil([&] { return screenEvents.isFollowingSession(); }));
    // The screensaver keeps its name until the test ends.
    GRefPtr<GDBusConnection> screenSaver;

    struct Row {
        const char* event;
        std::function<void()> emit;
        ScreenEvent expected;
    };
    const Row rows[] = {
        { "logind session Lock", [&] { callSystemBus("org.freedesktop.login1", sessionPath, "org.freedesktop.login1.Session", "Lock", nullptr); }, ScreenEvent::screenLocked },
        { "LockedHint true", [&] { callSystemBus("org.freedesktop.login1", sessionPath, "org.freedesktop.login1.Session", "SetLockedHint", g_variant_new("(b)", TRUE)); }, ScreenEvent::screenLocked },
        { "PrepareForSleep(true)", [] { emitPrepareForSleep(true); }, ScreenEvent::screensSlept },
        { "PrepareForSleep(false)", [] { emitPrepareForSleep(false); }, ScreenEvent::screensWoke },
        { "screensaver ActiveChanged(true)", [&] {
             GUniqueOutPtr<GError> error;
             screenSaver = adoptGRef(g_dbus_connection_new_for_address_sync(g_getenv("DBUS_SESSION_BUS_ADDRESS"),
                 static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, error.outPtr()));
             ASSERT_TRUE(screenSaver) << error->message;
             auto owned = adoptGRef(g_dbus_connection_call_sync(screenSaver.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                 g_variant_new("(su)", "org.freedesktop.ScreenSaver", 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
             ASSERT_TRUE(owned) << error->message;
             g_dbus_connection_emit_signal(screenSaver.get(), nullptr, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", g_variant_new("(b)", TRUE), nullptr);
             g_dbus_connection_flush_sync(screenSaver.get(), nullptr, nullptr);
         },
            ScreenEvent::screenLocked },
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.event);
        std::vector<ScreenEvent> events;
        auto observation = screenEvents.observe([&](ScreenEvent event) { events.push_back(event); });
        row.emit();
        ASSERT_TRUE(runMainLoopUntil([&] { return !events.empty(); }));
        EXPECT_EQ(events[0], row.expected);
    }
}

// polkit's answer decides; where it cannot ask, the application's own password dialog does.
TEST(LockServices, thePolkitAnswerDecidesAndWherePolkitCannotAskThePasswordDialogDoes)
{
    struct Row {
        const char* answer;
        std::function<void(AuthenticationPrompt&)> polkitAnswers;
        bool usesPasswordDialog;
        bool unlocks;
    };
    auto answer = [](bool isAuthorized, bool isChallenge) {
        return [=](AuthenticationPrompt&) { callPolkitMock("Answer", g_variant_new("(bb)", isAuthorized, isChallenge)); };
    };
    const Row rows[] = {
        { "authorized", answer(true, false), false, true },
        { "refused or dismissed", answer(false, false), false, false },
        { "no agent to ask", answer(false, true), true, true },
        { "action not installed",
            [](AuthenticationPrompt&) { callPolkitMock("Fail", g_variant_new("(ss)", "org.freedesktop.PolicyKit1.Error.Failed", "Action com.ashgrove.Halcyra.unlock is not registered")); },
            true, true },
        // The check waits until CancelCheckAuthorization names its own cancellation id.
        { "locked while asking", [](AuthenticationPrompt& prompt) { prompt.invalidate(); }, false, false },
    };
    GLibRunLoop loop;
    for (auto& row : rows) {
        SCOPED_TRACE(row.answer);
        callPolkitMock("Reset");
        FakeAuthenticator passwordDialog { loop };
        PolkitAuthenticator polkit(passwordDialog);
        std::optional<bool> result;
        auto prompt = polkit.evaluate({ "Unlock Workday", "Use Password" }, [&](bool succeeded) { result = succeeded; });
        ASSERT_TRUE(runMainLoopUntil([] { return waitingPolkitChecks() == 1; }));

        const char *kind, *name, *action, *cancellationID;
        guint32 flags;
        auto check = callPolkitMock("LastCheck");
        g_variant_get(check.get(), "((&s&s&s&su))", &kind, &name, &action, &cancellationID, &flags);
        auto systemBus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
        EXPECT_STREQ(kind, "system-bus-name");
        EXPECT_STREQ(name, g_dbus_connection_get_unique_name(systemBus.get()));
        EXPECT_STREQ(action, "com.ashgrove.Halcyra.unlock");
        EXPECT_EQ(flags, 1u) << "user interaction must be allowed";

        row.polkitAnswers(*prompt);
        if (row.usesPasswordDialog) {
            ASSERT_TRUE(runMainLoopUntil([&] { return passwordDialog.prompts.size() == 1; }));
            EXPECT_EQ(passwordDialog.prompts[0]->request.reason, "Unlock Workday");
            passwordDialog.answer(true);
        }
        ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
        EXPECT_EQ(*result, row.unlocks);
        EXPECT_EQ(passwordDialog.prompts.size(), row.usesPasswordDialog ? 1u : 0u);
        EXPECT_EQ(waitingPolkitChecks(), 0u);
    }
}

}

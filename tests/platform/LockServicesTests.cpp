#include "ServiceTestSupport.h"
#include "lock/GateController.h"
#include "lock/TouchIDGate.h"
#include "platform/DesktopScreenEvents.h"
#include "platform/GLibRunLoop.h"
#include "platform/PolkitAuthenticator.h"
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

// The gate and its controller over the real loop, the session's real events and polkit, with
// the widget and the in-app password dialog faked.
class LockServicesTests : public ::testing::Test {
public:
    void SetUp() override { callPolkitMock("Reset"); }

    void makeGate(Authenticator& authenticator)
    {
        // A new widget starts shown.
        view = {};
        controller = std::make_unique<GateController>(GateController::Services { loop, activity, sessionIdleTime, *screenEvents }, GateController::HasSavedCredentials::Yes);
        controller->start();
        gate = std::make_shared<TouchIDGate>(view, authenticator);
        controller->attach(gate);
    }

    void followNewLogindSession()
    {
        static int sessionNumber = 0;
        auto sessionID = "c" + std::to_string(++sessionNumber);
        callSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession",
            g_variant_new("(ssusb)", sessionID.c_str(), "seat0", 1000u, "owner", TRUE));
        sessionPath = "/org/freedesktop/login1/session/" + sessionID;
        g_setenv("XDG_SESSION_ID", sessionID.c_str(), TRUE);
        screenEvents = std::make_unique<DesktopScreenEvents>();
        ASSERT_TRUE(runMainLoopUntil([&] { return screenEvents->isFollowingSession(); }));
    }

    GLibRunLoop loop;
    FakeGateView view;
    FakeActivitySource activity;
    FakeSessionIdleTime sessionIdleTime { loop };
    FakeAuthenticator passwordDialog { loop };
    std::unique_ptr<DesktopScreenEvents> screenEvents;
    std::string sessionPath;
    std::unique_ptr<GateController> controller;
    std::shared_ptr<TouchIDGate> gate;
    std::vector<GRefPtr<GDBusConnection>> otherClients;
};

TEST_F(LockServicesTests, sleepAndSessionLockLockTheWindowAndWakingLeavesItLocked)
{
    struct Row {
        const char* event;
        std::function<void(LockServicesTests&)> emit;
    };
    const Row rows[] = {
        { "logind session Lock", [](LockServicesTests& t) {
             callSystemBus("org.freedesktop.login1", t.sessionPath.c_str(), "org.freedesktop.login1.Session", "Lock", nullptr);
         } },
        { "LockedHint true", [](LockServicesTests& t) {
             callSystemBus("org.freedesktop.login1", t.sessionPath.c_str(), "org.freedesktop.login1.Session", "SetLockedHint", g_variant_new("(b)", TRUE));
         } },
        { "PrepareForSleep(true)", [](LockServicesTests&) {
             callSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal",
                 g_variant_new_parsed("('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [<true>])"));
         } },
        { "screensaver ActiveChanged(true)", [](LockServicesTests& t) {
             GUniqueOutPtr<GError> error;
             auto saver = adoptGRef(g_dbus_connection_new_for_address_sync(g_getenv("DBUS_SESSION_BUS_ADDRESS"),
                 static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, error.outPtr()));
             ASSERT_TRUE(saver) << error->message;
             auto owned = adoptGRef(g_dbus_connection_call_sync(saver.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                 g_variant_new("(su)", "org.freedesktop.ScreenSaver", 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
             ASSERT_TRUE(owned) << error->message;
             g_dbus_connection_emit_signal(saver.get(), nullptr, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", g_variant_new("(b)", TRUE), nullptr);
             g_dbus_connection_flush_sync(saver.get(), nullptr, nullptr);
             // The screensaver keeps its name until the test ends.
             t.otherClients.push_back(std::move(saver));
         } },
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.event);
        followNewLogindSession();
        makeGate(passwordDialog);
        controller->toggle();
        passwordDialog.answer(true);
        ASSERT_TRUE(runMainLoopUntil([&] { return !controller->isLocked(); }));

        row.emit(*this);
        EXPECT_TRUE(runMainLoopUntil([&] { return controller->isLocked(); }));
        EXPECT_TRUE(view.isShown);

        // Waking from sleep leaves the window locked.
        bool hasWoken = false;
        auto observation = screenEvents->observe([&](ScreenEvent event) { hasWoken |= event == ScreenEvent::screensWoke; });
        callSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal",
            g_variant_new_parsed("('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [<false>])"));
        ASSERT_TRUE(runMainLoopUntil([&] { return hasWoken; }));
        EXPECT_TRUE(controller->isLocked());
        EXPECT_TRUE(view.isShown);
    }
}

// polkit's answer decides; where it cannot ask, the application's own password dialog does.
TEST_F(LockServicesTests, thePolkitAnswerUnlocksOrKeepsTheWindowLocked)
{
    struct Row {
        const char* answer;
        std::function<void(LockServicesTests&)> polkitAnswers;
        bool usesPasswordDialog;
        bool unlocks;
    };
    auto answer = [](bool isAuthorized, bool isChallenge) {
        return [=](LockServicesTests&) { callPolkitMock("Answer", g_variant_new("(bb)", isAuthorized, isChallenge)); };
    };
    const Row rows[] = {
        { "authorized", answer(true, false), false, true },
        { "refused or dismissed", answer(false, false), false, false },
        { "no agent to ask", answer(false, true), true, true },
        { "action not installed",
            [](LockServicesTests&) { callPolkitMock("Fail", g_variant_new("(ss)", "org.freedesktop.PolicyKit1.Error.Failed", "Action com.ashgrove.Halcyra.unlock is not registered")); },
            true, true },
        // The check waits until CancelCheckAuthorization names its own cancellation id.
        { "locked while asking", [](LockServicesTests& t) { t.gate->lock(); }, false, false },
    };
    screenEvents = std::make_unique<DesktopScreenEvents>();
    for (auto& row : rows) {
        SCOPED_TRACE(row.answer);
        callPolkitMock("Reset");
        FakeAuthenticator passwordFallback { loop };
        PolkitAuthenticator polkit(passwordFallback);
        makeGate(polkit);
        std::optional<bool> result;
        gate->authenticate([&](bool succeeded) { result = succeeded; });
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

        row.polkitAnswers(*this);
        if (row.usesPasswordDialog) {
            ASSERT_TRUE(runMainLoopUntil([&] { return passwordFallback.prompts.size() == 1; }));
            EXPECT_EQ(passwordFallback.prompts[0]->request.reason, "Unlock Workday");
            passwordFallback.answer(true);
        }
        ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
        EXPECT_EQ(*result, row.unlocks);
        EXPECT_EQ(controller->isLocked(), !row.unlocks);
        EXPECT_EQ(view.isShown, !row.unlocks);
        if (!row.usesPasswordDialog) {
            EXPECT_TRUE(passwordFallback.prompts.empty());
        }
        EXPECT_EQ(waitingPolkitChecks(), 0u);
    }
}

}

#include "ServiceTestSupport.h"
#include "platform/auth/PolkitAuthenticator.h"
#include "platform/desktop/DesktopExternalOpener.h"
#include "platform/desktop/DesktopScreenEvents.h"
#include "platform/desktop/DesktopSessionIdleTime.h"
#include "platform/desktop/LogindWakeMonitor.h"
#include "platform/glib/GLibRunLoop.h"
#include "platform/glib/OwnEnvironment.h"
#include "support/EnvironmentOverride.h"
#include "support/FakeLockCollaborators.h"
#include "support/MainLoopWait.h"
#include "support/TemporaryFolder.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace halcyra;

namespace {

// Against python3-dbusmock's logind and the polkit authority of run-with-services.
void emitPrepareForSleep(bool isGoingToSleep)
{
    callSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal",
        g_variant_new_parsed("('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [<%b>])", isGoingToSleep));
}

GRefPtr<GVariant> callPolkitMock(const char* method, GVariant* arguments = nullptr)
{
    return callSystemBus("org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority", "org.freedesktop.DBus.Mock", method, arguments);
}

unsigned waitingPolkitChecks()
{
    guint32 count = 0;
    if (auto reply = callPolkitMock("WaitingCount"))
        g_variant_get(reply.get(), "(u)", &count);
    return count;
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
    std::unique_ptr<SessionBusService> screenSaver;

    struct Row {
        const char* event;
        std::function<void()> emit;
        ScreenEvent expected;
    };
    const Row rows[] = {
        { "logind session Lock", [&] { callSystemBus("org.freedesktop.login1", sessionPath, "org.freedesktop.login1.Session", "Lock"); }, ScreenEvent::screenLocked },
        { "LockedHint true", [&] { callSystemBus("org.freedesktop.login1", sessionPath, "org.freedesktop.login1.Session", "SetLockedHint", g_variant_new("(b)", TRUE)); }, ScreenEvent::screenLocked },
        { "PrepareForSleep(true)", [] { emitPrepareForSleep(true); }, ScreenEvent::screensSlept },
        { "PrepareForSleep(false)", [] { emitPrepareForSleep(false); }, ScreenEvent::screensWoke },
        { "screensaver ActiveChanged(true)", [&] {
             screenSaver = std::make_unique<SessionBusService>("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "", nullptr);
             g_dbus_connection_emit_signal(screenSaver->connection(), nullptr, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", g_variant_new("(b)", TRUE), nullptr);
             g_dbus_connection_flush_sync(screenSaver->connection(), nullptr, nullptr); }, ScreenEvent::screenLocked },
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

// Each resume is one wake; going to sleep is none, and neither is a resume another process sends.
TEST(LogindWakeMonitor, eachResumeFromSleepIsOneWakeAndOnlyLogindIsBelieved)
{
    LogindWakeMonitor monitor;
    ASSERT_TRUE(monitor.isListening());
    int wakes = 0;
    auto connection = monitor.observe([&] { ++wakes; });
    // Every PrepareForSleep, whoever sent it, heard on the monitor's connection after the monitor
    // heard it: once all three are heard here, the monitor has handled them.
    auto bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
    int heard = 0;
    auto subscription = g_dbus_connection_signal_subscribe(
        bus.get(), nullptr, "org.freedesktop.login1.Manager", "PrepareForSleep", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, gpointer heard) { ++*static_cast<int*>(heard); }, &heard, nullptr);
    g_dbus_connection_emit_signal(bus.get(), nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", g_variant_new("(b)", FALSE), nullptr);
    emitPrepareForSleep(true);
    emitPrepareForSleep(false);
    ASSERT_TRUE(runMainLoopUntil([&] { return heard == 3; }));
    EXPECT_EQ(wakes, 1);
    g_dbus_connection_signal_unsubscribe(bus.get(), subscription);
}

// A desktop's idle-time service answering with a fixed number of milliseconds.
std::unique_ptr<SessionBusService> idleTimeService(const char* name, const char* path, const char* method, GVariant* milliseconds)
{
    auto answer = adoptGRef(milliseconds);
    auto xml = std::string("<interface name='") + name + "'><method name='" + method + "'><arg direction='out' type='" + g_variant_get_type_string(milliseconds) + "'/></method></interface>";
    return std::make_unique<SessionBusService>(name, path, xml, [answer](const char*, GDBusMethodInvocation* invocation) {
        auto* value = answer.get();
        g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(&value, 1));
    });
}

std::optional<Seconds> askIdleTime()
{
    DesktopSessionIdleTime idleTime;
    std::optional<std::optional<Seconds>> answer;
    idleTime.query([&](std::optional<Seconds> seconds) { answer = seconds; });
    EXPECT_TRUE(runMainLoopUntil([&] { return answer.has_value(); })) << "no answer";
    return answer.value_or(std::nullopt);
}

// GNOME's monitor answers first, the freedesktop screensaver where it is missing; a screensaver
// that answers 0 for ever, or no service at all, is no answer, so only local input counts.
TEST(DesktopSessionIdleTime, asksMutterThenTheScreenSaverAndTakesZeroForNoAnswer)
{
    EXPECT_EQ(askIdleTime(), std::nullopt);
    {
        auto screenSaver = idleTimeService("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "GetSessionIdleTime", g_variant_new_uint32(42'000));
        EXPECT_EQ(askIdleTime(), Seconds(42));
        auto mutter = idleTimeService("org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "GetIdletime", g_variant_new_uint64(1'500));
        EXPECT_EQ(askIdleTime(), Seconds(1.5));
    }
    auto silentScreenSaver = idleTimeService("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "GetSessionIdleTime", g_variant_new_uint32(0));
    EXPECT_EQ(askIdleTime(), std::nullopt);
}

// polkit's answer decides, and a refusal is final: only where polkit cannot ask (the real
// polkitd's answers, below) does the application's own password dialog ask.
TEST(LockServices, thePolkitAnswerDecides)
{
    struct Row {
        const char* answer;
        std::function<void(AuthenticationPrompt&)> polkitAnswers;
        bool unlocks;
    };
    auto answer = [](bool isAuthorized) {
        return [=](AuthenticationPrompt&) { callPolkitMock("Answer", g_variant_new("(bb)", isAuthorized, FALSE)); };
    };
    const Row rows[] = {
        { "authorized", answer(true), true },
        { "refused or dismissed", answer(false), false },
        // The check waits until CancelCheckAuthorization names its own cancellation id.
        { "locked while asking", [](AuthenticationPrompt& prompt) { prompt.invalidate(); }, false },
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
        ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
        EXPECT_EQ(*result, row.unlocks);
        EXPECT_TRUE(passwordDialog.prompts.empty());
        EXPECT_EQ(waitingPolkitChecks(), 0u);
    }
}

// Against the real polkitd of run-with-polkitd, as a user other than root (root is always
// authorized) in a session without an authentication agent.
TEST(RealPolkit, wherePolkitCannotAskThePasswordDialogAsks)
{
    ASSERT_NE(getuid(), 0u) << "run as an ordinary user";
    GLibRunLoop loop;
    // The unlock action not installed; an installed action, but no agent in the session.
    for (std::string actionID : { PolkitAuthenticator::actionID, "org.freedesktop.hostname1.set-hostname" }) {
        SCOPED_TRACE(actionID);
        FakeAuthenticator passwordDialog { loop };
        PolkitAuthenticator polkit(passwordDialog, actionID);
        std::optional<bool> result;
        auto prompt = polkit.evaluate({ "Unlock Workday", "Use Password" }, [&](bool succeeded) { result = succeeded; });
        ASSERT_TRUE(runMainLoopUntil([&] { return passwordDialog.prompts.size() == 1; }));
        EXPECT_EQ(passwordDialog.prompts[0]->request.reason, "Unlock Workday");
        passwordDialog.answer(true);
        ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
        EXPECT_TRUE(*result);
    }
}

}

// A link goes to the user's default browser, which starts with the user's environment: without
// the variables the application set for itself, such as its renderer (a browser of the same
// toolkit would otherwise draw as the application chose to).
TEST(DesktopExternalOpener, theBrowserStartsWithTheUsersEnvironmentWithoutTheApplicationsOwn)
{
    TemporaryFolder folder;
    auto data = folder.path() / "data";
    auto config = folder.path() / "config";
    std::filesystem::create_directories(data / "applications");
    std::filesystem::create_directories(config);
    auto seen = folder.path() / "browser-environment";
    std::ofstream(data / "applications" / "halcyra-test-browser.desktop")
        << "[Desktop Entry]\nType=Application\nName=Test Browser\nMimeType=x-scheme-handler/https;\n"
        << "Exec=sh -c \"env > " << seen.string() << ".part && mv " << seen.string() << ".part " << seen.string() << "\" browser %u\n";
    std::ofstream(config / "mimeapps.list") << "[Default Applications]\nx-scheme-handler/https=halcyra-test-browser.desktop\n";
    EnvironmentOverride dataHome("XDG_DATA_HOME", data.c_str());
    EnvironmentOverride configHome("XDG_CONFIG_HOME", config.c_str());
    EnvironmentOverride usersOwn("HALCYRA_TEST_USERS_OWN", "kept");
    EnvironmentOverride renderer("GSK_RENDERER", nullptr);
    setOwnEnvironmentVariable("GSK_RENDERER", "cairo");

    DesktopExternalOpener().openExternally(*URL::parse("https://webapps.ashgrove.test/"));
    ASSERT_TRUE(runMainLoopUntil([&] { return std::filesystem::exists(seen); })) << "the test browser was not started";
    auto environment = contentsOf(seen);
    EXPECT_NE(environment.find("\nHALCYRA_TEST_USERS_OWN=kept\n"), std::string::npos);
    EXPECT_EQ(environment.find("GSK_RENDERER="), std::string::npos);
}

#include "ServiceTestSupport.h"
#include "platform/desktop/LogindWakeMonitor.h"

#include <gtest/gtest.h>

using namespace halcyra;

namespace {

// Against python3-dbusmock's logind on the private system bus of run-with-services.
class LogindWakeMonitorTests : public ::testing::Test {
protected:
    static void emitPrepareForSleep(bool isGoingToSleep)
    {
        callSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal",
            g_variant_new_parsed("('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [<%b>])", isGoingToSleep));
    }
};

TEST_F(LogindWakeMonitorTests, eachResumeFromSleepIsOneWakeEventAndOnlyLogindIsBelieved)
{
    LogindWakeMonitor monitor;
    ASSERT_TRUE(monitor.isListening());
    int wakes = 0;
    auto connection = monitor.observe([&] { ++wakes; });

    // Signals from one sender arrive in order, so once the resume is seen the suspend has been
    // handled too.
    emitPrepareForSleep(true);
    emitPrepareForSleep(false);
    ASSERT_TRUE(runMainLoopUntil([&] { return wakes >= 1; }));
    EXPECT_EQ(wakes, 1) << "going to sleep must not count as a wake";

    // A resume sent by another process, before the call that makes logind signal on the same
    // connection: it has been handled once logind's wake has.
    GUniqueOutPtr<GError> error;
    auto bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, error.outPtr()));
    ASSERT_TRUE(bus);
    ASSERT_TRUE(g_dbus_connection_emit_signal(bus.get(), nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", g_variant_new("(b)", FALSE), error.outPtr()));
    g_dbus_connection_flush_sync(bus.get(), nullptr, nullptr);
    emitPrepareForSleep(true);
    emitPrepareForSleep(false);
    ASSERT_TRUE(runMainLoopUntil([&] { return wakes >= 2; }));
    EXPECT_EQ(wakes, 2);
}

}

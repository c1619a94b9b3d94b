#include "ServiceTestSupport.h"
#include "platform/network/GioNetworkPathMonitor.h"

#include <gtest/gtest.h>
#include <optional>

using namespace halcyra;

namespace {

// NetworkManager's global states: what GIO's monitor derives network availability from.
constexpr guint32 nmStateDisconnected = 20;
constexpr guint32 nmStateConnectedGlobal = 70;

// Against python3-dbusmock's NetworkManager on the private system bus of run-with-services,
// read by GIO's own NetworkManager monitor.
class NetworkPathMonitorTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_STREQ(G_OBJECT_TYPE_NAME(g_network_monitor_get_default()), "GNetworkMonitorNM") << "run under tests/platform/run-with-services";
        setState(nmStateConnectedGlobal);
        ASSERT_TRUE(runMainLoopUntil([] { return g_network_monitor_get_network_available(g_network_monitor_get_default()); }));
    }

    void TearDown() override { setState(nmStateConnectedGlobal); }

    static void setState(guint32 state)
    {
        callSystemBus("org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager", "org.freedesktop.DBus.Mock", "SetGlobalConnectionState", g_variant_new("(u)", state));
    }
};

// Observers hear the current status, later and never inside observe(), then every change; one
// disconnected before its first status hears nothing, even when its monitor is already gone.
TEST_F(NetworkPathMonitorTests, connectedObserversHearTheCurrentStatusThenEveryChangeAndDisconnectedOnesNothing)
{
    int disconnectedCalls = 0;
    std::optional<Connection> ofAGoneMonitor;
    {
        GioNetworkPathMonitor gone;
        ofAGoneMonitor = gone.observe([&](bool) { ++disconnectedCalls; });
    }
    ofAGoneMonitor.reset();
    GioNetworkPathMonitor monitor;
    std::optional<bool> lastStatus;
    auto disconnected = monitor.observe([&](bool) { ++disconnectedCalls; });
    auto connection = monitor.observe([&](bool isSatisfied) { lastStatus = isSatisfied; });
    disconnected.disconnect();
    EXPECT_FALSE(lastStatus);
    // Idle callbacks run in the order they were added: the disconnected ones' would come first.
    ASSERT_TRUE(runMainLoopUntil([&] { return lastStatus == true; }));

    setState(nmStateDisconnected);
    ASSERT_TRUE(runMainLoopUntil([&] { return lastStatus == false; })) << "offline never reported";
    EXPECT_FALSE(monitor.isSatisfied());

    setState(nmStateConnectedGlobal);
    ASSERT_TRUE(runMainLoopUntil([&] { return lastStatus == true; })) << "network return never reported";
    EXPECT_TRUE(monitor.isSatisfied());
    EXPECT_EQ(disconnectedCalls, 0) << "a disconnected observer heard a status";
}

}

#include "ServiceTestSupport.h"
#include "platform/desktop/LogindWakeMonitor.h"
#include "platform/network/GioNetworkPathMonitor.h"
#include "platform/secrets/LibsecretKeychain.h"
#include "support/MainLoopTask.h"

#include <gtest/gtest.h>
#include <optional>

using namespace halcyra;

namespace {

// Run with both bus addresses pointing at sockets that do not exist, as in a container or a
// session started without D-Bus.

TEST(WithoutServices, everyKeychainOperationReportsThatNoSecretServiceRuns)
{
    LibsecretKeychain keychain;
    KeychainItemID item { "com.ashgrove.workday.sso", "ashgrove-ss" };

    auto read = runOnMainLoop(keychain.read(item));
    EXPECT_EQ(read.status, keychainNotAvailable);
    EXPECT_FALSE(read.data);
    EXPECT_EQ(runOnMainLoop(keychain.update(item, "{}", { "Workday SSO credentials" })), keychainNotAvailable);
    EXPECT_EQ(runOnMainLoop(keychain.add(item, "{}", { "Workday SSO credentials" })), keychainNotAvailable);
    EXPECT_EQ(runOnMainLoop(keychain.remove(item)), keychainNotAvailable);

    // The log line names the cause and keeps what GLib said about the bus.
    auto message = keychain.messageForStatus(keychainNotAvailable);
    EXPECT_EQ(message.rfind("No Secret Service is running on the session bus. (", 0), 0u) << message;
}

// Without a system bus the wake monitor says it is not listening, and the network monitor still
// gives a status.
TEST(WithoutServices, desktopMonitorsStillAnswer)
{
    LogindWakeMonitor wakeMonitor;
    EXPECT_FALSE(wakeMonitor.isListening());
    // Observing must be safe where there is no bus to listen on (a crash fails the test).
    auto wakes = wakeMonitor.observe([] {});
    GioNetworkPathMonitor monitor;
    std::optional<bool> status;
    auto connection = monitor.observe([&](bool isSatisfied) { status = isSatisfied; });
    ASSERT_TRUE(runMainLoopUntil([&] { return status.has_value(); }));
    EXPECT_EQ(*status, monitor.isSatisfied());
}

}

#include "ApacheDAVServer.h"
#include "base/SettingsStore.h"
#include "platform/glib/GLibRunLoop.h"
#include "platform/network/SoupRecordStore.h"
#include "support/FakeKeychain.h"
#include "support/FakeSessionCollaborators.h"
#include "support/LogCapture.h"
#include "support/MainLoopWait.h"
#include "sync/CountsCoding.h"
#include "sync/CountsSync.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

// One machine of the user's, with its own settings, against the server at `url`.
struct Machine {
    // `previous`: the settings the machine had when it last quit.
    explicit Machine(const std::string& url, Seconds timeout = 10s, const nlohmann::json& previous = nlohmann::json::object())
        : store(url, timeout)
    {
        for (auto& [key, value] : previous.items())
            settings.setValue(key, value);
        sync = std::make_unique<CountsSync>(
            loop, settings, [this, url](std::optional<nlohmann::json> state, CountsSyncEngineDelegate& delegate) {
                CountsSyncEngineConfiguration configuration { .serverURL = url, .user = "jdoe", .stateSerialization = std::move(state), .firstRetryDelay = 0.1s, .maximumRetryDelay = 0.4s, .weakChangeTagRereadDelay = 1.2s, .random = [] { return 0.5; } };
                return std::make_unique<CountsSyncEngine>(loop, store, keychain, network, std::move(configuration), delegate); },
            [this](const CountsReading& reading) { received.push_back({ *reading.task, *reading.notification, *reading.prepaid, *reading.draft, *reading.lastUpdated }); });
        sync->start();
    }

    bool hasPendingUpload() const { return !sync->engine()->pendingRecordZoneChanges().empty(); }

    GLibRunLoop loop;
    MemorySettingsStore settings;
    FakeKeychain keychain;
    FakeNetworkPathMonitor network;
    SoupRecordStore store;
    std::vector<SyncedCounts> received;
    std::unique_ptr<CountsSync> sync;
};

// A reading observed `offset` from now, in whole milliseconds as the server keeps them.
SyncedCounts reading(std::int64_t task, Seconds offset = 0s)
{
    return { task, 2, 0, 1, std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now() + std::chrono::duration_cast<WallTime::duration>(offset)) };
}

class WebDAVSyncTests : public ::testing::Test {
protected:
    std::optional<SyncedCounts> recordOnDisk() const
    {
        return syncedCountsFromRecordFields(nlohmann::ordered_json::parse(contentsOf(server.recordFile()), nullptr, false));
    }
    bool waitForRecord(const std::optional<SyncedCounts>& counts, const Machine& machine)
    {
        return runMainLoopUntil([&] { return (counts ? recordOnDisk() == counts : recordOnDisk().has_value()) && !machine.hasPendingUpload(); });
    }
    void removeCollection() const { std::filesystem::remove_all(server.davFolder() / "Counts"); }

    ApacheDAVServer server;
    LogCapture log;
};

TEST_F(WebDAVSyncTests, twoMachinesConvergeOnTheLaterReadingWhicheverUploadsFirst)
{
    for (bool isLaterFirst : { false, true }) {
        SCOPED_TRACE(isLaterFirst);
        removeCollection();
        Machine earlierMachine(server.url()), laterMachine(server.url());
        auto earlier = reading(5), later = reading(6, 10s);
        auto& first = isLaterFirst ? laterMachine : earlierMachine;
        auto& second = isLaterFirst ? earlierMachine : laterMachine;
        auto writes = [&] { return server.count("PUT /Counts/WorkdayCounts.json 20"); };
        auto writesBefore = writes();

        first.sync->publish(isLaterFirst ? later : earlier);
        ASSERT_TRUE(waitForRecord(std::nullopt, first));
        second.sync->publish(isLaterFirst ? earlier : later);
        ASSERT_TRUE(waitForRecord(later, second)) << server.requestLog();
        earlierMachine.sync->engine()->fetchChanges();
        ASSERT_TRUE(runMainLoopUntil([&] { return earlierMachine.sync->latest() == later; })) << server.requestLog();

        EXPECT_EQ(earlierMachine.received, std::vector { later });
        // An adopted newer reading is not sent back; an older server copy is overwritten. Apache
        // writes its log line just after answering.
        int expectedWrites = isLaterFirst ? 1 : 2;
        ASSERT_TRUE(runMainLoopUntil([&] { return writes() - writesBefore >= expectedWrites; })) << server.requestLog();
        EXPECT_EQ(writes() - writesBefore, expectedWrites);
    }
}

// The first upload creates the collection and the record, and so does the next one after either
// was lost on the server.
TEST_F(WebDAVSyncTests, aLostRecordOrCollectionIsCreatedAgain)
{
    for (bool isCollectionLost : { false, true }) {
        SCOPED_TRACE(isCollectionLost);
        Machine machine(server.url());
        machine.sync->publish(reading(1));
        ASSERT_TRUE(waitForRecord(std::nullopt, machine));
        isCollectionLost ? removeCollection() : (void)std::filesystem::remove(server.recordFile());

        auto counts = reading(2);
        machine.sync->publish(counts);
        ASSERT_TRUE(waitForRecord(counts, machine)) << server.requestLog();
        EXPECT_EQ(server.count("PUT /Counts/WorkdayCounts.json 409"), isCollectionLost ? 1 : 0);
        EXPECT_FALSE(log.containsSubstring("[Sync] save failed"));
        removeCollection();
    }
}

// A reading the server never got while it was down is sent by the next launch.
TEST_F(WebDAVSyncTests, aPendingUploadOutlivesTheServerBeingKilledAndTheApplicationQuitting)
{
    Machine machine(server.url());
    ASSERT_TRUE(runMainLoopUntil([&] { return server.count("GET /Counts/WorkdayCounts.json 404") == 1; }));
    server.kill();
    auto counts = reading(8);
    machine.sync->publish(counts);
    ASSERT_TRUE(runMainLoopUntil([&] { return log.count("[Sync] send failed: HalcyraSyncErrorDomain (4)") >= 2; }));
    EXPECT_TRUE(machine.hasPendingUpload());
    machine.sync.reset();

    server.start();
    Machine relaunched(server.url(), 10s, machine.settings.allValues());
    EXPECT_TRUE(log.contains("[Sync] engine started (saved state: true)"));
    ASSERT_TRUE(waitForRecord(counts, relaunched)) << server.requestLog();
    EXPECT_EQ(relaunched.sync->latest(), counts);
}

TEST_F(WebDAVSyncTests, unreadableRecordsLeaveTheLocalReading)
{
    std::string large(10 * 1024 * 1024, ' ');
    large.replace(0, 10, R"({"task":1,)");
    for (auto& body : { std::string(R"({"task":3,"notification":2,"prepaid":0,"dr)"), large }) {
        SCOPED_TRACE(body.size());
        std::filesystem::create_directories(server.davFolder() / "Counts");
        std::ofstream(server.recordFile()) << body;
        // Written here as root; the server (running as nobody) must be able to replace it.
        chmod((server.davFolder() / "Counts").c_str(), 0777);
        chmod(server.recordFile().c_str(), 0666);
        Machine machine(server.url());
        auto local = reading(3, -1h);
        machine.sync->publish(local);
        machine.sync->engine()->fetchChanges();

        if (body.size() > maximumRecordBodySize)
            ASSERT_TRUE(runMainLoopUntil([&] { return log.containsSubstring("[Sync] fetch failed: the counts file on the server is larger than 65536 bytes"); }));
        else // The unreadable copy's tag is kept, so the local reading replaces it.
            ASSERT_TRUE(runMainLoopUntil([&] { return recordOnDisk() == local; })) << server.requestLog();
        EXPECT_TRUE(machine.received.empty());
        removeCollection();
        log.clear();
    }
}

// A server that accepts connections and never answers times out; the reading waits to be sent.
TEST_F(WebDAVSyncTests, aSilentServerTimesOutAndTheReadingIsKept)
{
    auto silent = listeningLoopbackSocket();
    Machine machine("http://127.0.0.1:" + std::to_string(silent.port) + "/", 1s);
    machine.sync->publish(reading(3));
    ASSERT_TRUE(runMainLoopUntil([&] { return log.count("[Sync] send failed: HalcyraSyncErrorDomain (4)") >= 2; })) << testing::PrintToString(log.lines());
    EXPECT_TRUE(machine.hasPendingUpload());
    close(silent.descriptor);
}

}

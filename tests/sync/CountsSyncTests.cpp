#include "FakeWebDAVServer.h"
#include "base/SettingsStore.h"
#include "support/FakeKeychain.h"
#include "support/FakeSessionCollaborators.h"
#include "support/LogCapture.h"
#include "support/VirtualRunLoop.h"
#include "sync/CountsCoding.h"
#include "sync/CountsSync.h"
#include "sync/SyncServerAddress.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

const std::string recordPath = "Counts/WorkdayCounts.json";

SyncedCounts reading(std::int64_t task, WallTime observedAt)
{
    return { task, 0, 1, 2, observedAt };
}

std::optional<SyncedCounts> countsOn(const FakeWebDAVServer& server)
{
    auto* file = server.file(recordPath);
    return file ? syncedCountsFromRecordFields(nlohmann::ordered_json::parse(*file)) : std::nullopt;
}

// The milliseconds between the server's requests from `first` on (only the saves, if asked).
std::vector<long long> gapsBetweenRequests(const FakeWebDAVServer& server, size_t first, bool isSavesOnly = false)
{
    std::vector<long long> gaps;
    std::optional<MonotonicTime> previous;
    for (auto index = first; index < server.requests().size(); ++index) {
        auto& sent = server.requests()[index];
        if (isSavesOnly && sent.request.method != RecordRequest::Method::put)
            continue;
        if (previous)
            gaps.push_back(std::chrono::round<std::chrono::milliseconds>(sent.time - *previous).count());
        previous = sent.time;
    }
    return gaps;
}

// One machine: its settings, keyring and counts sync, against a shared fake server.
struct Machine {
    void build()
    {
        sync = std::make_unique<CountsSync>(
            loop, settings, [this](std::optional<nlohmann::json> state, CountsSyncEngineDelegate& delegate) {
                CountsSyncEngineConfiguration configuration { .serverURL = "https://dav.example.edu/halcyra/", .user = "jdoe", .stateSerialization = std::move(state), .random = [this] { return randomValue; } };
                return std::make_unique<CountsSyncEngine>(loop, server, keychain, network, std::move(configuration), delegate); },
            [this](const CountsReading& reading) { received.push_back(reading); });
    }

    void start()
    {
        if (!sync)
            build();
        sync->start();
        loop.runUntilIdle();
    }

    std::optional<SyncedCounts> storedLatest() const { return syncedCountsFromStored(settings.value("countsSyncLatest")); }
    std::optional<SyncSystemFields> storedSystemFields() const { return SyncSystemFields::fromArchive(settings.value("countsSyncSystemFields")); }

    VirtualRunLoop& loop;
    FakeWebDAVServer& server;
    MemorySettingsStore settings {};
    FakeKeychain keychain {};
    FakeNetworkPathMonitor network {};
    std::vector<CountsReading> received {};
    std::unique_ptr<CountsSync> sync {};
    // What the retry waits draw, up to a fifth either way.
    double randomValue { 0.5 };
};

class CountsSyncTests : public ::testing::Test {
protected:
    WallTime now() const { return loop.wallNow(); }

    VirtualRunLoop loop;
    FakeWebDAVServer server { loop };
    LogCapture log;
};

TEST(SyncServerAddress, onlyHttpsLeavesThisMachine)
{
    std::vector<std::pair<std::string, bool>> cases {
        { "https://cloud.example.edu/remote.php/dav/files/jdoe/", true },
        { "http://127.45.6.7/dav/", true },
        { "http://localhost/dav", true },
        { "http://[::1]:8080/", true },
        { "http://cloud.example.edu/dav/", false },
        { "http://127.0.0.1.example.edu/dav/", false },
        { "http://128.0.0.1/dav/", false },
        { "ftp://127.0.0.1/dav/", false },
        { "cloud.example.edu/dav", false },
    };
    for (auto& [address, isAccepted] : cases)
        EXPECT_EQ(!syncServerAddressProblem(address), isAccepted) << address;
}

// Counts published before the sync started, read again later without a change, read between
// two complete readings, or adopted from another machine, are neither sent nor stored.
TEST_F(CountsSyncTests, onlyNewCompleteReadingsOfThisMachineAreSentAndStored)
{
    Machine machine { loop, server };
    machine.build();
    machine.sync->publish(reading(4, now()));
    loop.runUntilIdle();
    EXPECT_FALSE(machine.settings.hasValue("countsSyncLatest"));
    EXPECT_TRUE(server.requests().empty());

    machine.start();
    auto counts = reading(3, now());
    CountsReading complete { .task = 3, .notification = 0, .prepaid = 1, .draft = 2, .lastUpdated = now() };
    machine.sync->takeReading(complete);
    loop.advance(1s);
    complete.state = PollState::notSignedIn();
    complete.task = 5;
    machine.sync->takeReading(complete);
    complete.origin = CountsReading::Origin::anotherMachine;
    complete.lastUpdated = now() + 60s;
    machine.sync->takeReading(complete);
    machine.sync->publish(reading(3, now() + 30s));
    loop.advance(60s);
    EXPECT_EQ(machine.storedLatest(), counts);
    EXPECT_EQ(log.count("[Sync] uploading counts 3/0/1/2"), 1);
    EXPECT_FALSE(log.contains("[Sync] uploading counts 4/"));
    EXPECT_TRUE(log.contains("[Sync] counts uploaded"));
}

TEST_F(CountsSyncTests, aFetchedRecordIsAdoptedOnlyWhenObservedLater)
{
    // A record that is not whole is never adopted (tests/unit/sync/CountsCodingTests.cpp).
    for (auto [offset, isAdopted] : { std::pair(-1s, false), std::pair(0s, false), std::pair(1s, true) }) {
        SCOPED_TRACE(offset.count());
        FakeWebDAVServer server(loop);
        Machine machine { loop, server };
        auto local = reading(3, now());
        machine.settings.setValue("countsSyncLatest", storedCounts(local));
        auto remote = reading(9, now() + offset);
        server.writeFile(recordPath, recordFields(remote).dump());

        machine.start();

        EXPECT_EQ(machine.storedLatest(), isAdopted ? remote : local);
        CountsReading adopted { .task = 9, .notification = 0, .prepaid = 1, .draft = 2, .lastUpdated = remote.observedAt, .origin = CountsReading::Origin::anotherMachine };
        EXPECT_EQ(machine.received, isAdopted ? std::vector { adopted } : std::vector<CountsReading> {});
        EXPECT_EQ(log.containsSubstring("[Sync] received counts 9/0/1/2 read at "), isAdopted);
        // The change tag is kept even for a record that was not adopted.
        ASSERT_TRUE(machine.storedSystemFields());
        EXPECT_EQ(machine.storedSystemFields()->changeTag, server.tag(recordPath));
        log.clear();
    }
}

// Waits double from 2 s up to 60 s, each drawn up to a fifth shorter or longer, never beyond 60 s.
TEST_F(CountsSyncTests, networkFailuresAndServerErrorsAreRetriedAfterGrowingWaits)
{
    RecordResponse offline { RecordResponse::Outcome::networkFailure, 0, {}, {}, {}, "Could not connect" };
    RecordResponse serverError { RecordResponse::Outcome::answered, 503, {}, {}, {}, {} };
    const std::tuple<RecordResponse, double, std::vector<long long>> cases[] = {
        { offline, 0.0, { 1600, 3200, 6400, 12800, 25600, 48000, 48000, 48000, 48000, 48000, 48000, 48000 } },
        { serverError, 1.0, { 2400, 4800, 9600, 19200, 38400, 60000, 60000, 60000, 60000, 60000 } },
    };
    for (auto& [failure, randomValue, expectedWaits] : cases) {
        FakeWebDAVServer server(loop);
        Machine machine { loop, server };
        machine.randomValue = randomValue;
        machine.start();
        server.forceAlways(failure);
        auto counts = reading(3, now());
        auto first = server.requests().size();
        machine.sync->publish(counts);
        loop.advance(400s);

        EXPECT_EQ(gapsBetweenRequests(server, first), expectedWaits) << randomValue;
        EXPECT_TRUE(log.contains("[Sync] send failed: HalcyraSyncErrorDomain (" + std::string(failure.status ? "6" : "4") + ")"));

        // The network coming back is tried at once; the reading was never lost.
        server.heal();
        machine.network.send(false);
        machine.network.send(true);
        loop.runUntilIdle();
        EXPECT_EQ(countsOn(server), counts);
        log.clear();
    }
}

// The server tags a file written within the last second weakly, and a weak tag fails every
// If-Match: the tag read after a save is read again, and a save refused for it waits for the
// strong one instead of failing round after round. A save whose answer was lost finds its own
// reading on the server and is not written again.
TEST_F(CountsSyncTests, weakTagsAndLostAnswersEndInOneWriteOfEachReading)
{
    server.issueWeakTags();
    Machine machine { loop, server };
    machine.start();
    auto puts = [&] { return std::ranges::count_if(server.requests(), [](auto& sent) { return sent.request.method == RecordRequest::Method::put; }); };

    machine.sync->publish(reading(3, now()));
    loop.runUntilIdle();
    EXPECT_EQ(machine.storedSystemFields()->changeTag, "W/\"1\"");
    auto newer = reading(4, now() + 1s);
    machine.sync->publish(newer);
    loop.runUntilIdle();
    EXPECT_EQ(puts(), 2);
    loop.advance(2s);
    EXPECT_EQ(countsOn(server), newer);
    loop.advance(2s);
    EXPECT_EQ(machine.storedSystemFields()->changeTag, server.tag(recordPath));

    auto lost = reading(5, now() + 2s);
    server.loseNextAnswer();
    machine.sync->publish(lost);
    loop.runUntilIdle();
    EXPECT_EQ(countsOn(server), lost);
    auto writes = server.writeCount();
    loop.advance(600s);
    EXPECT_EQ(server.writeCount(), writes);
    EXPECT_GE(puts(), 5) << "the lost save was tried again";
    EXPECT_EQ(machine.storedSystemFields()->changeTag, server.tag(recordPath));
}

// Another machine writing before each save (two machines answering each other) gets three rounds
// at once, then rounds as far apart as after a failure.
TEST_F(CountsSyncTests, savesLosingToAnotherMachineRoundAfterRoundSlowDownAfterThree)
{
    Machine machine { loop, server };
    machine.start();
    machine.sync->publish(reading(3, now()));
    loop.runUntilIdle();
    server.writeBeforeEachSave(5, recordFields(reading(2, now() - 1h)).dump());
    auto first = server.requests().size();
    auto latest = reading(4, now());
    machine.sync->publish(latest);
    loop.runUntilIdle();

    EXPECT_EQ(gapsBetweenRequests(server, first, true), (std::vector<long long> { 0, 0 }));
    loop.advance(60s);
    EXPECT_EQ(gapsBetweenRequests(server, first, true), (std::vector<long long> { 0, 0, 2000, 2000, 2000 }));
    EXPECT_EQ(countsOn(server), latest);
}

TEST_F(CountsSyncTests, aRefusedAccountIsReportedOnceAndTriedAgainWithANewPassword)
{
    for (int status : { 401, 403 }) {
        FakeWebDAVServer server(loop);
        Machine machine { loop, server };
        server.forceAlways({ RecordResponse::Outcome::answered, status, {}, {}, {}, {} });
        machine.start();
        auto counts = reading(4, now());
        machine.sync->publish(reading(3, now()));
        machine.sync->publish(counts);
        loop.advance(900s);

        EXPECT_EQ(server.requests().size(), 1u) << "nothing is sent while the password is the refused one";
        EXPECT_EQ(log.count("[Sync] iCloud account change: sign-out (the server refused the configured account: HTTP " + std::to_string(status) + ")"), 1);

        server.heal();
        machine.keychain.setItem("com.ashgrove.Halcyra.sync", "jdoe", "app-password");
        loop.advance(300s);
        ASSERT_FALSE(server.requests().empty());
        EXPECT_EQ(server.requests().back().request.password, "app-password");
        EXPECT_TRUE(log.contains("[Sync] iCloud account change: sign-in (the server accepted the configured account)"));
        EXPECT_EQ(countsOn(server), counts);
        log.clear();
    }
}

}

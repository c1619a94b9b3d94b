#pragma once

#include "CountsSyncEngine.h"
#include "SyncedCounts.h"
#include "base/TaskGroup.h"
#include "counts/CountsReading.h"

#include <functional>
#include <memory>
#include <optional>

namespace halcyra {

class SettingsStore;

// Shares the latest complete reading of the four counts between the user's machines through one
// record on the user's own server. Each machine uploads its reading when the counts changed and
// adopts a record from the server when it was observed later than the one it holds; the later
// observation wins whole.
class CountsSync final : private CountsSyncEngineDelegate {
public:
    // Builds the engine on `start`, with the saved engine state (absent when there is none).
    using EngineFactory = std::function<std::unique_ptr<CountsSyncEngine>(std::optional<nlohmann::json> savedState, CountsSyncEngineDelegate&)>;
    // Receives every adopted record as a reading (the poller shows it if it is newer than its own
    // update).
    using ReadingReceiver = std::function<void(const CountsReading&)>;

    CountsSync(RunLoop&, SettingsStore&, EngineFactory, ReadingReceiver);
    ~CountsSync() override;

    const std::optional<SyncedCounts>& latest() const { return m_latest; }
    CountsSyncEngine* engine() const { return m_engine.get(); }

    void start();
    // Publishes each complete reading made on this machine, once.
    void takeReading(const CountsReading&);
    void publish(const SyncedCounts&);

private:
    void handleEvent(const SyncEvent&) override;
    std::vector<SyncRecord> nextRecordZoneChangeBatch(const std::vector<SyncRecordID>& pendingSaves) override;

    void handleFetchedRecordZoneChanges(const SyncEvent&);
    void handleSentRecordZoneChanges(const SyncEvent&);
    void archiveSystemFields(const SyncRecord&);
    void adopt(const SyncedCounts&);
    void setLatest(const SyncedCounts&);
    Task<void> sendChanges();

    SettingsStore& m_settings;
    EngineFactory m_makeEngine;
    ReadingReceiver m_receiver;
    std::optional<SyncedCounts> m_latest;
    std::optional<WallTime> m_lastTakenUpdate;
    std::unique_ptr<CountsSyncEngine> m_engine;
    // Last, so that the tasks waiting on the engine end before it goes.
    TaskGroup m_tasks;
};

}

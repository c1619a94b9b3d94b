#include "CountsSync.h"

#include "CountsCoding.h"
#include "base/Log.h"
#include "base/SettingsStore.h"

namespace halcyra {

namespace {

    constexpr const char* latestKey = "countsSyncLatest";
    constexpr const char* engineStateKey = "countsSyncEngineState";
    constexpr const char* systemFieldsKey = "countsSyncSystemFields";

    std::string joinedCounts(const SyncedCounts& counts)
    {
        return std::to_string(counts.task) + "/" + std::to_string(counts.notification) + "/" + std::to_string(counts.prepaid) + "/" + std::to_string(counts.draft);
    }

    bool hasSameCounts(const SyncedCounts& a, const SyncedCounts& b)
    {
        return a.task == b.task && a.notification == b.notification && a.prepaid == b.prepaid && a.draft == b.draft;
    }

    // The server keeps times to the millisecond.
    bool isSameReading(const SyncedCounts& a, const SyncedCounts& b)
    {
        using std::chrono::milliseconds;
        return hasSameCounts(a, b) && std::chrono::floor<milliseconds>(a.observedAt) == std::chrono::floor<milliseconds>(b.observedAt);
    }

}

CountsSync::CountsSync(RunLoop& loop, SettingsStore& settings, EngineFactory makeEngine, ReadingReceiver receiver)
    : m_settings(settings)
    , m_makeEngine(std::move(makeEngine))
    , m_receiver(std::move(receiver))
    , m_latest(syncedCountsFromStored(settings.value(latestKey)))
    , m_tasks(loop)
{
}

CountsSync::~CountsSync()
{
    m_tasks.cancelAll();
}

void CountsSync::start()
{
    if (m_engine || !m_makeEngine)
        return;
    auto savedState = m_settings.value(engineStateKey);
    if (savedState && !savedState->is_object())
        savedState.reset();
    m_engine = m_makeEngine(savedState, *this);
    if (!m_engine)
        return;
    logVerbose(std::string("[Sync] engine started (saved state: ") + (m_engine->hasSavedState() ? "true" : "false") + ")");
}

void CountsSync::takeReading(const CountsReading& reading)
{
    // Between two complete readings the counts may change one by one; they are not shared with
    // the time of the last complete one.
    if (reading.origin != CountsReading::Origin::thisMachine || !reading.lastUpdated || reading.lastUpdated == m_lastTakenUpdate || !reading.hasAllCounts())
        return;
    m_lastTakenUpdate = reading.lastUpdated;
    publish({ *reading.task, *reading.notification, *reading.prepaid, *reading.draft, *reading.lastUpdated });
}

void CountsSync::publish(const SyncedCounts& counts)
{
    if (!m_engine)
        return;
    // A later time alone is no news: nothing is uploaded or stored.
    if (m_latest && hasSameCounts(*m_latest, counts))
        return;
    setLatest(counts);
    logVerbose("[Sync] uploading counts " + joinedCounts(counts));
    m_engine->addPendingSaveZone(countsZoneName);
    m_engine->addPendingSaveRecord(SyncRecordID::counts());
    m_tasks.spawn(sendChanges());
}

Task<void> CountsSync::sendChanges()
{
    auto error = co_await m_engine->sendChanges();
    // The changes stay queued; the engine retries by itself.
    if (error)
        logVerbose("[Sync] send failed: " + errorSummary(*error));
}

void CountsSync::handleEvent(const SyncEvent& event)
{
    switch (event.kind) {
    case SyncEvent::Kind::stateUpdate:
        m_settings.setValue(engineStateKey, event.stateSerialization);
        return;
    case SyncEvent::Kind::accountChange:
        logVerbose("[Sync] iCloud account change: " + event.accountChangeDescription);
        return;
    case SyncEvent::Kind::fetchedRecordZoneChanges:
        handleFetchedRecordZoneChanges(event);
        return;
    case SyncEvent::Kind::sentRecordZoneChanges:
        handleSentRecordZoneChanges(event);
        return;
    }
}

void CountsSync::handleFetchedRecordZoneChanges(const SyncEvent& event)
{
    for (auto& record : event.modifications) {
        if (record.id != SyncRecordID::counts())
            continue;
        archiveSystemFields(record);
        if (auto counts = syncedCountsFromRecordFields(record.fields)) {
            adopt(*counts);
            return;
        }
    }
}

void CountsSync::handleSentRecordZoneChanges(const SyncEvent& event)
{
    for (auto& record : event.savedRecords) {
        if (record.id != SyncRecordID::counts())
            continue;
        archiveSystemFields(record);
        logVerbose("[Sync] counts uploaded");
    }

    auto failure = std::ranges::find_if(event.failedRecordSaves, [](auto& failed) { return failed.record.id == SyncRecordID::counts(); });
    if (failure == event.failedRecordSaves.end())
        return;
    switch (failure->error.code) {
    case SyncErrorCode::unknownItem:
        m_settings.removeValue(systemFieldsKey);
        m_engine->addPendingSaveRecord(SyncRecordID::counts());
        return;
    case SyncErrorCode::zoneNotFound:
        m_engine->addPendingSaveZone(countsZoneName);
        m_engine->addPendingSaveRecord(SyncRecordID::counts());
        return;
    case SyncErrorCode::serverRecordChanged: {
        if (!failure->error.serverRecord)
            return;
        auto& serverRecord = *failure->error.serverRecord;
        archiveSystemFields(serverRecord);
        auto serverCounts = syncedCountsFromRecordFields(serverRecord.fields);
        if (serverCounts && (!m_latest || m_latest->observedAt < serverCounts->observedAt)) {
            adopt(*serverCounts);
            return;
        }
        // The server holds exactly this reading already (a change tag that was weak when it was
        // read fails every comparison): its tag is stored now, and there is nothing to write.
        if (serverCounts && m_latest && isSameReading(*serverCounts, *m_latest))
            return;
        m_engine->addPendingSaveRecord(SyncRecordID::counts());
        return;
    }
    default:
        logVerbose("[Sync] save failed: " + errorSummary(failure->error));
        return;
    }
}

void CountsSync::archiveSystemFields(const SyncRecord& record)
{
    if (record.systemFields)
        m_settings.setValue(systemFieldsKey, record.systemFields->archived());
}

std::vector<SyncRecord> CountsSync::nextRecordZoneChangeBatch(const std::vector<SyncRecordID>& pendingSaves)
{
    std::vector<SyncRecord> batch;
    for (auto& id : pendingSaves) {
        if (id != SyncRecordID::counts() || !m_latest)
            continue;
        SyncRecord record { id, recordFields(*m_latest), SyncSystemFields::fromArchive(m_settings.value(systemFieldsKey)) };
        batch.push_back(std::move(record));
    }
    return batch;
}

void CountsSync::adopt(const SyncedCounts& counts)
{
    // Ties keep the local record.
    if (m_latest && m_latest->observedAt >= counts.observedAt)
        return;
    setLatest(counts);
    logVerbose("[Sync] received counts " + joinedCounts(counts) + " read at " + logDateDescription(counts.observedAt));
    if (!m_receiver)
        return;
    CountsReading reading;
    reading.task = counts.task;
    reading.notification = counts.notification;
    reading.prepaid = counts.prepaid;
    reading.draft = counts.draft;
    reading.lastUpdated = counts.observedAt;
    reading.origin = CountsReading::Origin::anotherMachine;
    m_receiver(reading);
}

void CountsSync::setLatest(const SyncedCounts& counts)
{
    m_latest = counts;
    m_settings.setValue(latestKey, storedCounts(counts));
}

}

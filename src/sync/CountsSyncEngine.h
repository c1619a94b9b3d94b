#pragma once

#include "RecordStore.h"
#include "SyncError.h"
#include "SyncRecord.h"
#include "base/RunLoop.h"
#include "base/Signal.h"
#include "base/Task.h"
#include "base/TaskGroup.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

class Keychain;
class NetworkPathMonitor;

struct FailedRecordSave {
    SyncRecord record;
    SyncError error;
};

// What the engine tells its delegate, one kind at a time.
struct SyncEvent {
    enum class Kind { stateUpdate,
        accountChange,
        fetchedRecordZoneChanges,
        sentRecordZoneChanges };

    Kind kind { Kind::stateUpdate };
    // stateUpdate: the engine's whole state, to be handed back when the engine is next created.
    nlohmann::json stateSerialization;
    // accountChange: "sign-in", "sign-out" or "account switch", with what caused it.
    std::string accountChangeDescription;
    // fetchedRecordZoneChanges
    std::vector<SyncRecord> modifications;
    std::vector<SyncRecordID> deletions;
    // sentRecordZoneChanges
    std::vector<SyncRecord> savedRecords;
    std::vector<FailedRecordSave> failedRecordSaves;
};

class CountsSyncEngineDelegate {
public:
    virtual ~CountsSyncEngineDelegate() = default;
    virtual void handleEvent(const SyncEvent&) = 0;
    // The records to save for the pending saves; a pending save without a record is dropped.
    virtual std::vector<SyncRecord> nextRecordZoneChangeBatch(const std::vector<SyncRecordID>& pendingSaves) = 0;
};

struct CountsSyncEngineConfiguration {
    std::string serverURL;
    std::string user;
    std::optional<nlohmann::json> stateSerialization;
    // How often the server's copy is checked, besides at start, after saves and on network return.
    Seconds fetchInterval { 300 };
    // Network failures and server errors are retried after 2, 4, 8 … s, at most 60 s apart.
    Seconds firstRetryDelay { 2 };
    Seconds maximumRetryDelay { 60 };
    // A weak change tag (the server wrote the file within the last second) is read again after this.
    Seconds weakChangeTagRereadDelay { 2 };
    // Gives numbers in [0, 1) that spread retries of several machines apart.
    std::function<double()> random;
};

// Keeps the pending changes of the counts record, sends them to the user's WebDAV server, fetches
// the server's copy and reports both to its delegate. Syncs by itself: at creation, on pending
// changes, every `fetchInterval`, and when the network comes back. One request at a time.
class CountsSyncEngine {
public:
    CountsSyncEngine(RunLoop&, RecordStore&, Keychain&, NetworkPathMonitor&, CountsSyncEngineConfiguration, CountsSyncEngineDelegate&);
    // The delegate may be the engine's owner; it must outlive the engine.
    ~CountsSyncEngine();
    CountsSyncEngine(const CountsSyncEngine&) = delete;
    CountsSyncEngine& operator=(const CountsSyncEngine&) = delete;

    // The item that holds the server password: `secret-tool store --label='Halcyra sync password'
    // service com.ashgrove.Halcyra.sync account USER`.
    static constexpr const char* passwordService = "com.ashgrove.Halcyra.sync";

    bool hasSavedState() const { return m_hasSavedState; }
    void addPendingSaveZone(const std::string& zoneName);
    void addPendingSaveRecord(const SyncRecordID&);
    const std::vector<SyncRecordID>& pendingRecordZoneChanges() const { return m_pendingRecordSaves; }
    const std::vector<std::string>& pendingDatabaseChanges() const { return m_pendingZoneSaves; }

    // Sends the pending changes now, also during a back-off. Gives the error that stopped the
    // sending; failures of single records are reported as events instead.
    Task<std::optional<SyncError>> sendChanges();
    void fetchChanges();

private:
    enum class FetchKind { conditional,
        unconditional };
    enum class Trigger { automatic,
        explicitRequest };

    void loadState(const std::optional<nlohmann::json>&);
    nlohmann::json stateSerialization() const;
    void stateDidChange();

    void requestRun(Trigger);
    Task<void> run();
    Task<std::optional<SyncError>> sendPass();
    Task<std::optional<SyncError>> saveZone(const std::string& zoneName);
    Task<std::optional<FailedRecordSave>> saveRecord(const SyncRecord&, std::vector<SyncRecord>& saved);
    Task<std::optional<SyncError>> fetch(FetchKind);
    Task<std::optional<RecordResponse>> perform(RecordRequest);

    // Notes what an answer says about the account and the server's health; gives the error
    // for an answer that is not a success.
    std::optional<SyncError> noteResponse(const RecordResponse&);
    Task<void> readPassword();
    Task<void> runAfterReadingPassword(Trigger);
    void retryLater();
    void resetRetries();
    void networkChanged(bool isSatisfied);
    Task<void> fetchPeriodically();
    Task<void> retryAfter(Seconds);
    Task<void> rereadAfter(Seconds);
    void emit(SyncEvent);
    SyncRecord recordFromResponse(const SyncRecordID&, const RecordResponse&) const;
    void removePendingSave(const SyncRecordID&);
    void resolveSendWaiters(size_t count, const std::optional<SyncError>&);

    RunLoop& m_loop;
    RecordStore& m_store;
    Keychain& m_keychain;
    CountsSyncEngineConfiguration m_configuration;
    CountsSyncEngineDelegate& m_delegate;

    bool m_hasSavedState { false };
    std::vector<std::string> m_pendingZoneSaves;
    std::vector<SyncRecordID> m_pendingRecordSaves;
    std::vector<std::string> m_knownZones;
    // The change tag of the last copy fetched; the next fetch asks only for something newer.
    std::optional<std::string> m_serverChangeTag;

    std::optional<std::string> m_password;
    // Set after the server refused the account; nothing is sent until the password changes.
    bool m_isAccountRefused { false };
    std::optional<std::string> m_refusedPassword;
    bool m_wasAccountRefused { false };

    bool m_isRunning { false };
    bool m_needsFetch { false };
    FetchKind m_fetchKind { FetchKind::conditional };
    bool m_needsSend { false };
    std::vector<std::function<void(std::optional<SyncError>)>> m_sendWaiters;

    int m_failedTries { 0 };
    int m_passesWithFailedSaves { 0 };
    bool m_isWaitingForStrongChangeTag { false };
    std::optional<TaskHandle> m_retryTask;
    std::optional<TaskHandle> m_rereadTask;
    bool m_hasPendingAccountSwitch { false };
    bool m_isStopping { false };
    bool m_isNetworkSatisfied { true };
    bool m_hasNetworkStatus { false };
    Connection m_networkConnection;
    TaskGroup m_tasks;
};

}

#include "CountsSyncEngine.h"

#include "base/Log.h"
#include "credentials/Keychain.h"
#include "session/Connectivity.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace halcyra {

namespace {

    bool isSuccess(const RecordResponse& response)
    {
        return response.outcome == RecordResponse::Outcome::answered && response.status >= 200 && response.status < 300;
    }

    bool isAnswered(const RecordResponse& response, int status)
    {
        return response.outcome == RecordResponse::Outcome::answered && response.status == status;
    }

    bool isAccountError(const SyncError& error)
    {
        return error.code == SyncErrorCode::notAuthenticated || error.code == SyncErrorCode::permissionFailure;
    }

    bool isRetryable(const SyncError& error)
    {
        return error.code == SyncErrorCode::networkFailure || error.code == SyncErrorCode::serviceUnavailable;
    }

    std::optional<std::string> stringMember(const nlohmann::json& object, const char* key)
    {
        auto found = object.find(key);
        if (found == object.end() || !found->is_string())
            return std::nullopt;
        return found->get<std::string>();
    }

    std::function<double()> defaultRandom()
    {
        auto engine = std::make_shared<std::mt19937>(std::random_device {}());
        return [engine] { return std::uniform_real_distribution<double>(0, 1)(*engine); };
    }

    // Writing the same file more than this many rounds in a row means two machines keep
    // answering each other; the next round waits as after a failure.
    constexpr int maximumRoundsWithFailedSaves = 3;

}

CountsSyncEngine::CountsSyncEngine(RunLoop& loop, RecordStore& store, Keychain& keychain, NetworkPathMonitor& network, CountsSyncEngineConfiguration configuration, CountsSyncEngineDelegate& delegate)
    : m_loop(loop)
    , m_store(store)
    , m_keychain(keychain)
    , m_configuration(std::move(configuration))
    , m_delegate(delegate)
    , m_tasks(loop)
{
    if (!m_configuration.random)
        m_configuration.random = defaultRandom();
    loadState(m_configuration.stateSerialization);
    m_networkConnection = network.observe([this](bool isSatisfied) { networkChanged(isSatisfied); });
    m_tasks.spawn(fetchPeriodically());
    // Changes left pending when the application last quit are sent at once.
    m_needsSend = !m_pendingRecordSaves.empty() || !m_pendingZoneSaves.empty();
    m_needsFetch = true;
    m_tasks.spawn(runAfterReadingPassword(Trigger::automatic));
}

// The first requests wait for the keyring's answer, so that they carry the password.
Task<void> CountsSyncEngine::runAfterReadingPassword(Trigger trigger)
{
    co_await readPassword();
    requestRun(trigger);
}

CountsSyncEngine::~CountsSyncEngine()
{
    // Cancelled tasks resume once; they must not report anything on the way out.
    m_isStopping = true;
    m_tasks.cancelAll();
}

void CountsSyncEngine::loadState(const std::optional<nlohmann::json>& state)
{
    if (!state || !state->is_object())
        return;
    m_hasSavedState = true;
    auto account = stringMember(*state, "account");
    auto server = stringMember(*state, "server");
    bool isSameAccount = account == m_configuration.user && server == m_configuration.serverURL;
    m_hasPendingAccountSwitch = !isSameAccount;

    if (auto zones = state->find("pendingDatabaseChanges"); zones != state->end() && zones->is_array()) {
        for (auto& zone : *zones) {
            if (zone.is_string())
                m_pendingZoneSaves.push_back(zone.get<std::string>());
        }
    }
    if (auto records = state->find("pendingRecordZoneChanges"); records != state->end() && records->is_array()) {
        for (auto& record : *records) {
            if (!record.is_object())
                continue;
            auto zone = stringMember(record, "zoneName");
            auto name = stringMember(record, "recordName");
            if (zone && name)
                m_pendingRecordSaves.push_back({ *zone, *name });
        }
    }
    // What is known about another account's server says nothing about this one.
    if (!isSameAccount)
        return;
    m_serverChangeTag = stringMember(*state, "serverChangeTag");
    if (auto zones = state->find("knownZones"); zones != state->end() && zones->is_array()) {
        for (auto& zone : *zones) {
            if (zone.is_string())
                m_knownZones.push_back(zone.get<std::string>());
        }
    }
}

nlohmann::json CountsSyncEngine::stateSerialization() const
{
    auto records = nlohmann::json::array();
    for (auto& id : m_pendingRecordSaves)
        records.push_back({ { "zoneName", id.zoneName }, { "recordName", id.recordName } });
    return {
        { "account", m_configuration.user },
        { "server", m_configuration.serverURL },
        { "serverChangeTag", m_serverChangeTag ? nlohmann::json(*m_serverChangeTag) : nlohmann::json() },
        { "knownZones", m_knownZones },
        { "pendingDatabaseChanges", m_pendingZoneSaves },
        { "pendingRecordZoneChanges", records },
    };
}

void CountsSyncEngine::emit(SyncEvent event)
{
    if (!m_isStopping)
        m_delegate.handleEvent(event);
}

void CountsSyncEngine::stateDidChange()
{
    SyncEvent event;
    event.kind = SyncEvent::Kind::stateUpdate;
    event.stateSerialization = stateSerialization();
    emit(std::move(event));
}

void CountsSyncEngine::addPendingSaveZone(const std::string& zoneName)
{
    if (std::ranges::find(m_pendingZoneSaves, zoneName) == m_pendingZoneSaves.end())
        m_pendingZoneSaves.push_back(zoneName);
    stateDidChange();
    m_needsSend = true;
    requestRun(Trigger::automatic);
}

void CountsSyncEngine::addPendingSaveRecord(const SyncRecordID& id)
{
    if (std::ranges::find(m_pendingRecordSaves, id) == m_pendingRecordSaves.end())
        m_pendingRecordSaves.push_back(id);
    stateDidChange();
    m_needsSend = true;
    requestRun(Trigger::automatic);
}

void CountsSyncEngine::removePendingSave(const SyncRecordID& id)
{
    std::erase(m_pendingRecordSaves, id);
}

Task<std::optional<SyncError>> CountsSyncEngine::sendChanges()
{
    // A named awaiter: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    auto sent = awaitCallback<std::optional<SyncError>>([this](std::function<void(std::optional<SyncError>)> done) {
        m_sendWaiters.push_back(std::move(done));
        requestRun(Trigger::explicitRequest);
    });
    auto result = co_await sent;
    // Cancelled with its owner: nothing failed, and nobody is left to tell.
    if (!result)
        co_return std::nullopt;
    co_return *result;
}

void CountsSyncEngine::fetchChanges()
{
    m_needsFetch = true;
    requestRun(Trigger::automatic);
}

void CountsSyncEngine::requestRun(Trigger trigger)
{
    if (trigger == Trigger::explicitRequest && m_retryTask) {
        m_retryTask->cancel();
        m_retryTask.reset();
    }
    if (m_isRunning || m_retryTask || m_isStopping)
        return;
    m_isRunning = true;
    m_tasks.spawn(run());
}

Task<void> CountsSyncEngine::run()
{
    // Starts on the loop, never inside the call that asked for it.
    bool hasWaited = co_await sleep(m_loop, Seconds(0));
    if (!hasWaited || m_isStopping)
        co_return;
    if (std::exchange(m_hasPendingAccountSwitch, false)) {
        SyncEvent event;
        event.kind = SyncEvent::Kind::accountChange;
        event.accountChangeDescription = "account switch (another server or user is configured)";
        emit(std::move(event));
        stateDidChange();
    }

    // Pending changes go first: a server that fails every fetch must not keep them from being
    // tried, and each save is followed by a fetch anyway.
    while (!m_isStopping) {
        bool hasWaiters = !m_sendWaiters.empty();
        if (m_needsSend || hasWaiters) {
            auto waiterCount = m_sendWaiters.size();
            m_needsSend = false;
            std::optional<SyncError> error;
            if (m_isAccountRefused)
                error = SyncError { SyncErrorCode::notAuthenticated, std::nullopt };
            else {
                error = co_await sendPass();
                if (m_isStopping)
                    co_return;
            }
            if (error && !isAccountError(*error) && !waiterCount)
                logVerbose("[Sync] send failed: " + errorSummary(*error));
            resolveSendWaiters(waiterCount, error);
            if (error) {
                if (!isAccountError(*error)) {
                    m_needsSend = true;
                    retryLater();
                }
                break;
            }
            if (std::exchange(m_isWaitingForStrongChangeTag, false) && !m_pendingRecordSaves.empty()) {
                // The server's copy was written within its last second: its tag is weak and fails
                // every If-Match until the second has passed.
                m_needsSend = true;
                m_retryTask = m_tasks.spawn(retryAfter(m_configuration.weakChangeTagRereadDelay));
                break;
            }
            if (m_passesWithFailedSaves >= maximumRoundsWithFailedSaves && !m_pendingRecordSaves.empty()) {
                m_needsSend = true;
                retryLater();
                break;
            }
            continue;
        }
        if (m_needsFetch && !m_isAccountRefused) {
            m_needsFetch = false;
            auto kind = std::exchange(m_fetchKind, FetchKind::conditional);
            auto error = co_await fetch(kind);
            if (m_isStopping)
                co_return;
            if (error && isRetryable(*error)) {
                m_needsFetch = true;
                m_fetchKind = kind;
                retryLater();
                break;
            }
            continue;
        }
        break;
    }
    m_isRunning = false;
}

void CountsSyncEngine::resolveSendWaiters(size_t count, const std::optional<SyncError>& error)
{
    count = std::min(count, m_sendWaiters.size());
    std::vector<std::function<void(std::optional<SyncError>)>> waiters(m_sendWaiters.begin(), m_sendWaiters.begin() + static_cast<std::ptrdiff_t>(count));
    m_sendWaiters.erase(m_sendWaiters.begin(), m_sendWaiters.begin() + static_cast<std::ptrdiff_t>(count));
    for (auto& waiter : waiters)
        waiter(error);
}

Task<std::optional<SyncError>> CountsSyncEngine::sendPass()
{
    for (auto zone : std::vector(m_pendingZoneSaves)) {
        if (std::ranges::find(m_knownZones, zone) == m_knownZones.end()) {
            auto error = co_await saveZone(zone);
            if (m_isStopping || error)
                co_return error;
        }
        std::erase(m_pendingZoneSaves, zone);
        stateDidChange();
    }
    if (m_pendingRecordSaves.empty())
        co_return std::nullopt;

    auto batch = m_delegate.nextRecordZoneChangeBatch(m_pendingRecordSaves);
    std::erase_if(m_pendingRecordSaves, [&](auto& id) {
        return std::ranges::none_of(batch, [&](auto& record) { return record.id == id; });
    });

    SyncEvent event;
    event.kind = SyncEvent::Kind::sentRecordZoneChanges;
    std::optional<SyncError> stoppingError;
    for (auto& record : batch) {
        auto failure = co_await saveRecord(record, event.savedRecords);
        if (m_isStopping)
            co_return std::nullopt;
        if (!failure)
            continue;
        if (isRetryable(failure->error) || isAccountError(failure->error)) {
            stoppingError = failure->error;
            break;
        }
        event.failedRecordSaves.push_back(std::move(*failure));
    }
    stateDidChange();
    if (!event.savedRecords.empty())
        m_needsFetch = true;
    m_passesWithFailedSaves = event.failedRecordSaves.empty() ? 0 : m_passesWithFailedSaves + 1;
    if (!event.savedRecords.empty() || !event.failedRecordSaves.empty())
        emit(std::move(event));
    co_return stoppingError;
}

Task<std::optional<SyncError>> CountsSyncEngine::saveZone(const std::string& zoneName)
{
    RecordRequest request { RecordRequest::Method::mkcol, zoneName + "/", {}, {}, {}, {}, {} };
    auto response = co_await perform(std::move(request));
    if (!response)
        co_return std::nullopt;
    // 405: the collection exists already.
    if (isSuccess(*response) || isAnswered(*response, 405)) {
        noteResponse(*response);
        m_knownZones.push_back(zoneName);
        co_return std::nullopt;
    }
    auto error = noteResponse(*response);
    // Any other refusal (no parent collection, no space) may be mended on the server: tried again later.
    if (error && !isAccountError(*error) && !isRetryable(*error))
        error->code = SyncErrorCode::serviceUnavailable;
    co_return error;
}

Task<std::optional<FailedRecordSave>> CountsSyncEngine::saveRecord(const SyncRecord& record, std::vector<SyncRecord>& saved)
{
    RecordRequest request { RecordRequest::Method::put, record.id.path(), {}, {}, record.fields.dump(), {}, {} };
    if (record.systemFields && !record.systemFields->changeTag.empty())
        request.ifMatch = record.systemFields->changeTag;
    else
        request.ifNoneMatch = "*";
    auto response = co_await perform(std::move(request));
    if (!response)
        co_return std::nullopt;
    auto error = noteResponse(*response);
    if (!error) {
        removePendingSave(record.id);
        auto savedRecord = record;
        savedRecord.systemFields = SyncSystemFields { response->etag.value_or(""), response->lastModified };
        // Without a strong tag from the save, the next fetch must read the file again to learn it.
        if (response->etag && !savedRecord.systemFields->hasWeakChangeTag())
            m_serverChangeTag = response->etag;
        else
            m_serverChangeTag.reset();
        saved.push_back(std::move(savedRecord));
        co_return std::nullopt;
    }
    if (isRetryable(*error) || isAccountError(*error))
        co_return FailedRecordSave { record, *error };

    removePendingSave(record.id);
    if (error->code == SyncErrorCode::zoneNotFound)
        std::erase(m_knownZones, record.id.zoneName);
    if (error->code == SyncErrorCode::serverRecordChanged) {
        // The server's copy says what changed: another machine's reading, the same file under a
        // tag that was weak when it was read, or nothing at all when the file is gone.
        RecordRequest copyRequest { RecordRequest::Method::get, record.id.path(), {}, {}, {}, {}, {} };
        auto copy = co_await perform(std::move(copyRequest));
        if (!copy)
            co_return std::nullopt;
        auto copyError = noteResponse(*copy);
        if (!copyError) {
            error->serverRecord = recordFromResponse(record.id, *copy);
            m_isWaitingForStrongChangeTag = error->serverRecord->systemFields->hasWeakChangeTag();
        } else if (copyError->code == SyncErrorCode::unknownItem)
            error->code = SyncErrorCode::unknownItem;
        else if (isRetryable(*copyError) || isAccountError(*copyError)) {
            m_pendingRecordSaves.push_back(record.id);
            co_return FailedRecordSave { record, *copyError };
        }
    }
    co_return FailedRecordSave { record, *error };
}

Task<std::optional<SyncError>> CountsSyncEngine::fetch(FetchKind kind)
{
    auto id = SyncRecordID::counts();
    RecordRequest request { RecordRequest::Method::get, id.path(), {}, {}, {}, {}, {} };
    if (kind == FetchKind::conditional && m_serverChangeTag)
        request.ifNoneMatch = m_serverChangeTag;
    auto response = co_await perform(std::move(request));
    if (!response)
        co_return std::nullopt;
    if (isAnswered(*response, 304)) {
        noteResponse(*response);
        co_return std::nullopt;
    }
    if (isAnswered(*response, 404)) {
        noteResponse(*response);
        if (m_serverChangeTag) {
            m_serverChangeTag.reset();
            stateDidChange();
            SyncEvent event;
            event.kind = SyncEvent::Kind::fetchedRecordZoneChanges;
            event.deletions.push_back(id);
            emit(std::move(event));
        }
        co_return std::nullopt;
    }
    auto error = noteResponse(*response);
    if (error) {
        if (error->code == SyncErrorCode::limitExceeded)
            logVerbose("[Sync] fetch failed: the counts file on the server is larger than " + std::to_string(maximumRecordBodySize) + " bytes; it was not read");
        else if (!isAccountError(*error))
            logVerbose("[Sync] fetch failed: " + errorSummary(*error));
        co_return error;
    }

    auto record = recordFromResponse(id, *response);
    if (record.systemFields->changeTag.empty())
        m_serverChangeTag.reset();
    else
        m_serverChangeTag = record.systemFields->changeTag;
    stateDidChange();
    if (record.systemFields->hasWeakChangeTag() && !m_rereadTask)
        m_rereadTask = m_tasks.spawn(rereadAfter(m_configuration.weakChangeTagRereadDelay));
    SyncEvent event;
    event.kind = SyncEvent::Kind::fetchedRecordZoneChanges;
    event.modifications.push_back(std::move(record));
    emit(std::move(event));
    co_return std::nullopt;
}

SyncRecord CountsSyncEngine::recordFromResponse(const SyncRecordID& id, const RecordResponse& response) const
{
    SyncRecord record { id, nlohmann::ordered_json::object(), SyncSystemFields { response.etag.value_or(""), response.lastModified } };
    // A file that is not a JSON object (cut short, or written by something else) has no fields.
    auto fields = nlohmann::ordered_json::parse(response.body, nullptr, false);
    if (fields.is_object())
        record.fields = std::move(fields);
    return record;
}

Task<std::optional<RecordResponse>> CountsSyncEngine::perform(RecordRequest request)
{
    request.user = m_configuration.user;
    request.password = m_password;
    auto answered = awaitCallback<RecordResponse>([this, request = std::move(request)](std::function<void(RecordResponse)> done) {
        m_store.send(request, std::move(done));
    });
    auto response = co_await answered;
    if (m_isStopping)
        co_return std::nullopt;
    co_return response;
}

std::optional<SyncError> CountsSyncEngine::noteResponse(const RecordResponse& response)
{
    using Outcome = RecordResponse::Outcome;
    if (response.outcome == Outcome::networkFailure || response.outcome == Outcome::timedOut)
        return SyncError { SyncErrorCode::networkFailure, std::nullopt };
    if (response.outcome == Outcome::bodyTooLarge)
        return SyncError { SyncErrorCode::limitExceeded, std::nullopt };

    auto status = response.status;
    if (status == 401 || status == 403) {
        if (!m_isAccountRefused) {
            m_isAccountRefused = true;
            m_wasAccountRefused = true;
            m_refusedPassword = m_password;
            SyncEvent event;
            event.kind = SyncEvent::Kind::accountChange;
            event.accountChangeDescription = "sign-out (the server refused the configured account: HTTP " + std::to_string(status) + ")";
            emit(std::move(event));
        }
        return SyncError { status == 401 ? SyncErrorCode::notAuthenticated : SyncErrorCode::permissionFailure, std::nullopt };
    }
    if (status >= 500 || status == 408 || status == 429)
        return SyncError { SyncErrorCode::serviceUnavailable, std::nullopt };

    resetRetries();
    if (std::exchange(m_wasAccountRefused, false)) {
        SyncEvent event;
        event.kind = SyncEvent::Kind::accountChange;
        event.accountChangeDescription = "sign-in (the server accepted the configured account)";
        emit(std::move(event));
    }
    if ((status >= 200 && status < 300) || status == 304)
        return std::nullopt;
    switch (status) {
    case 404:
        return SyncError { SyncErrorCode::unknownItem, std::nullopt };
    case 409:
        return SyncError { SyncErrorCode::zoneNotFound, std::nullopt };
    case 412:
        return SyncError { SyncErrorCode::serverRecordChanged, std::nullopt };
    default:
        return SyncError { SyncErrorCode::serverRejectedRequest, std::nullopt };
    }
}

Task<void> CountsSyncEngine::readPassword()
{
    auto reading = m_keychain.read({ passwordService, m_configuration.user });
    auto result = co_await std::move(reading);
    m_password = result.status == keychainSuccess ? result.data : std::nullopt;
    if (m_isAccountRefused && m_password != m_refusedPassword) {
        m_isAccountRefused = false;
        m_needsFetch = true;
        m_needsSend = !m_pendingRecordSaves.empty() || !m_pendingZoneSaves.empty();
    }
}

void CountsSyncEngine::retryLater()
{
    auto delay = m_configuration.firstRetryDelay.count() * std::pow(2.0, std::min(m_failedTries, 30));
    delay = std::min(delay, m_configuration.maximumRetryDelay.count());
    // Up to a fifth either way, never beyond the longest wait.
    delay = std::min(delay * (0.8 + 0.4 * m_configuration.random()), m_configuration.maximumRetryDelay.count());
    ++m_failedTries;
    if (m_retryTask)
        m_retryTask->cancel();
    m_retryTask = m_tasks.spawn(retryAfter(Seconds(delay)));
}

void CountsSyncEngine::resetRetries()
{
    m_failedTries = 0;
}

Task<void> CountsSyncEngine::retryAfter(Seconds delay)
{
    bool hasElapsed = co_await sleep(m_loop, delay);
    if (!hasElapsed)
        co_return;
    m_retryTask.reset();
    requestRun(Trigger::automatic);
}

Task<void> CountsSyncEngine::rereadAfter(Seconds delay)
{
    bool hasElapsed = co_await sleep(m_loop, delay);
    if (!hasElapsed)
        co_return;
    m_rereadTask.reset();
    m_fetchKind = FetchKind::unconditional;
    fetchChanges();
}

Task<void> CountsSyncEngine::fetchPeriodically()
{
    while (true) {
        bool hasElapsed = co_await sleep(m_loop, m_configuration.fetchInterval);
        if (!hasElapsed)
            co_return;
        // A password changed in the keyring is picked up here, and ends a refusal.
        co_await readPassword();
        m_needsFetch = true;
        requestRun(Trigger::automatic);
    }
}

void CountsSyncEngine::networkChanged(bool isSatisfied)
{
    bool wasSatisfied = std::exchange(m_isNetworkSatisfied, isSatisfied);
    if (!std::exchange(m_hasNetworkStatus, true) || wasSatisfied || !isSatisfied)
        return;
    resetRetries();
    m_needsFetch = true;
    m_needsSend = m_needsSend || !m_pendingRecordSaves.empty() || !m_pendingZoneSaves.empty();
    m_tasks.spawn(runAfterReadingPassword(Trigger::explicitRequest));
}

}

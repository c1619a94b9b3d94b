#include "FuzzTarget.h"
#include "base/SettingsStore.h"
#include "support/FakeKeychain.h"
#include "support/FakeSessionCollaborators.h"
#include "support/VirtualRunLoop.h"
#include "sync/CountsCoding.h"
#include "sync/CountsSync.h"

#include <deque>
#include <sstream>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

// Answers the engine's requests in turn with the input's responses, each "<status> <ETag or ->
// <Last-Modified>" on a line, then its body, separated by lines of "--". A status that is no
// number is a network failure; after the last response the server is out of reach.
class ScriptedServer final : public RecordStore {
public:
    ScriptedServer(RunLoop& loop, std::string_view input)
        : m_loop(loop)
    {
        for (size_t start = 0, end = 0; end != std::string_view::npos && m_responses.size() < 32; start = end + 4) {
            end = input.find("\n--\n", start);
            auto chunk = input.substr(start, end == std::string_view::npos ? end : end - start);
            auto headerEnd = std::min(chunk.find('\n'), chunk.size());
            std::istringstream header { std::string(chunk.substr(0, headerEnd)) };
            RecordResponse response { RecordResponse::Outcome::networkFailure, 0, {}, {}, std::string(chunk.substr(std::min(headerEnd + 1, chunk.size()))), {} };
            std::string etag, lastModified;
            if (header >> response.status) {
                response.outcome = RecordResponse::Outcome::answered;
                header >> etag;
                if (!etag.empty() && etag != "-")
                    response.etag = etag;
                if (header.get() == ' ' && std::getline(header, lastModified))
                    response.lastModified = lastModified;
            }
            m_responses.push_back(std::move(response));
        }
    }

    void send(RecordRequest, std::function<void(RecordResponse)> completion) override
    {
        RecordResponse answer { RecordResponse::Outcome::networkFailure, 0, {}, {}, {}, {} };
        if (!m_responses.empty()) {
            answer = std::move(m_responses.front());
            m_responses.pop_front();
        }
        m_loop.dispatch([completion = std::move(completion), answer = std::move(answer)] { completion(answer); });
    }

private:
    RunLoop& m_loop;
    std::deque<RecordResponse> m_responses;
};

}

// The counts sync against a server that answers anything: it fetches, adopts, uploads and
// retries on the virtual clock, and what it keeps reads back.
HALCYRA_FUZZ_TARGET(webDAVResponses)
{
    VirtualRunLoop loop;
    ScriptedServer server(loop, input);
    MemorySettingsStore settings;
    FakeKeychain keychain;
    keychain.setItem(CountsSyncEngine::passwordService, "jdoe", "secret");
    FakeNetworkPathMonitor network;
    std::vector<SyncedCounts> received;
    {
        CountsSync sync(
            loop, settings, [&](std::optional<nlohmann::json> state, CountsSyncEngineDelegate& delegate) {
                CountsSyncEngineConfiguration configuration { .serverURL = "https://dav.example.edu/halcyra/", .user = "jdoe", .stateSerialization = std::move(state), .random = [] { return 0.5; } };
                return std::make_unique<CountsSyncEngine>(loop, server, keychain, network, std::move(configuration), delegate); },
            [&](const CountsReading& reading) { received.push_back({ *reading.task, *reading.notification, *reading.prepaid, *reading.draft, *reading.lastUpdated }); });
        sync.start();
        loop.runUntilIdle();
        sync.publish({ 3, 0, 1, 2, loop.wallNow() });
        for (int minute = 0; minute < 12; ++minute)
            loop.advance(60s);
        if (sync.latest())
            fuzz::check(syncedCountsFromStored(settings.value("countsSyncLatest")) == sync.latest(), "the latest counts are stored as they are");
    }
    loop.runUntilIdle();
}

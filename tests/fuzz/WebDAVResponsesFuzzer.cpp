#include "FuzzTarget.h"
#include "base/SettingsStore.h"
#include "support/FakeKeychain.h"
#include "support/FakeSessionCollaborators.h"
#include "support/VirtualRunLoop.h"
#include "sync/CountsCoding.h"
#include "sync/CountsSync.h"

#include <charconv>
#include <deque>

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
        size_t start = 0;
        while (start <= input.size() && m_responses.size() < 32) {
            auto end = input.find("\n--\n", start);
            auto chunk = input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
            m_responses.push_back(response(chunk));
            if (end == std::string_view::npos)
                break;
            start = end + 4;
        }
    }

    void send(RecordRequest, std::function<void(RecordResponse)> completion) override
    {
        RecordResponse answer;
        answer.outcome = RecordResponse::Outcome::networkFailure;
        if (!m_responses.empty()) {
            answer = std::move(m_responses.front());
            m_responses.pop_front();
        }
        m_loop.dispatch([completion = std::move(completion), answer = std::move(answer)] { completion(answer); });
    }

private:
    static RecordResponse response(std::string_view chunk)
    {
        auto headerEnd = chunk.find('\n');
        auto header = chunk.substr(0, headerEnd);
        RecordResponse response;
        response.body = headerEnd == std::string_view::npos ? "" : std::string(chunk.substr(headerEnd + 1));
        auto [statusEnd, error] = std::from_chars(header.data(), header.data() + header.size(), response.status);
        if (error != std::errc()) {
            response.outcome = RecordResponse::Outcome::networkFailure;
            return response;
        }
        auto rest = header.substr(statusEnd - header.data());
        if (rest.starts_with(' '))
            rest.remove_prefix(1);
        auto etagEnd = rest.find(' ');
        auto etag = rest.substr(0, etagEnd);
        if (!etag.empty() && etag != "-")
            response.etag = std::string(etag);
        if (etagEnd != std::string_view::npos)
            response.lastModified = std::string(rest.substr(etagEnd + 1));
        return response;
    }

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

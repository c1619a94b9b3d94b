#pragma once

#include "base/RunLoop.h"
#include "sync/RecordStore.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

// A WebDAV server in memory that answers as Apache's mod_dav does: no ETag on a PUT answer, 412
// for If-Match on a missing file. Answers arrive on the run loop. A test can make it answer every
// request alike. Lost collections and conflicts are tried on a real server.
class FakeWebDAVServer final : public RecordStore {
public:
    explicit FakeWebDAVServer(RunLoop& loop)
        : m_loop(loop)
    {
    }

    struct Sent {
        RecordRequest request;
        MonotonicTime time;
    };

    void send(RecordRequest request, std::function<void(RecordResponse)> completion) override
    {
        m_requests.push_back({ request, m_loop.now() });
        auto response = m_forced ? *m_forced : answer(request);
        m_loop.dispatch([completion = std::move(completion), response] { completion(response); });
    }

    void writeFile(const std::string& path, const std::string& body)
    {
        m_files[path] = { body, "\"" + std::to_string(++m_nextTag) + "\"" };
    }
    const std::string* file(const std::string& path) const
    {
        auto found = m_files.find(path);
        return found == m_files.end() ? nullptr : &found->second.body;
    }
    std::string tag(const std::string& path) const { return m_files.at(path).tag; }

    void forceAlways(RecordResponse response) { m_forced = response; }
    void heal() { m_forced.reset(); }

    const std::vector<Sent>& requests() const { return m_requests; }

private:
    struct File {
        std::string body;
        std::string tag;
    };

    static RecordResponse status(int code) { return { RecordResponse::Outcome::answered, code, {}, {}, {}, {} }; }

    RecordResponse answer(const RecordRequest& request)
    {
        auto found = m_files.find(request.path);
        switch (request.method) {
        case RecordRequest::Method::mkcol:
            return status(201);
        case RecordRequest::Method::get:
            if (found == m_files.end())
                return status(404);
            if (request.ifNoneMatch == found->second.tag)
                return status(304);
            return { RecordResponse::Outcome::answered, 200, found->second.tag, "Sun, 06 Dec 2026 20:00:00 GMT", found->second.body, {} };
        case RecordRequest::Method::put:
            if (request.ifNoneMatch && found != m_files.end())
                return status(412);
            if (request.ifMatch && (found == m_files.end() || found->second.tag != *request.ifMatch))
                return status(412);
            writeFile(request.path, request.body);
            return status(found == m_files.end() ? 201 : 204);
        }
        return status(500);
    }

    RunLoop& m_loop;
    std::map<std::string, File> m_files;
    int m_nextTag { 0 };
    std::optional<RecordResponse> m_forced;
    std::vector<Sent> m_requests;
};

}

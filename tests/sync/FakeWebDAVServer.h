#pragma once

#include "base/RunLoop.h"
#include "sync/RecordStore.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace halcyra {

// A WebDAV server in memory that answers as Apache's mod_dav does: no ETag on a PUT answer, 412
// for If-Match on a missing file, and (once turned on) a weak tag for a file written within the
// last second, which fails every If-Match. Answers arrive on the run loop. A test can make it
// answer every request alike, lose an answer, or let another machine write first. Lost
// collections are tried on a real server.
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
        if (request.method == RecordRequest::Method::put && m_rivalWrites && m_rivalWrites--)
            writeFile(request.path, m_rivalBody);
        auto response = m_forced ? *m_forced : answer(request);
        if (std::exchange(m_losesNextAnswer, false))
            response = { RecordResponse::Outcome::networkFailure, 0, {}, {}, {}, "Connection reset" };
        m_loop.dispatch([completion = std::move(completion), response] { completion(response); });
    }

    void writeFile(const std::string& path, const std::string& body)
    {
        m_files[path] = { body, "\"" + std::to_string(++m_nextTag) + "\"", m_loop.now() };
    }
    const std::string* file(const std::string& path) const
    {
        auto found = m_files.find(path);
        return found == m_files.end() ? nullptr : &found->second.body;
    }
    // The tag as a GET would answer it now.
    std::string tag(const std::string& path) const { return currentTag(m_files.at(path)); }
    int writeCount() const { return m_nextTag; }

    void forceAlways(RecordResponse response) { m_forced = response; }
    void heal() { m_forced.reset(); }
    void issueWeakTags() { m_issuesWeakTags = true; }
    // The next request is carried out, but its answer never arrives.
    void loseNextAnswer() { m_losesNextAnswer = true; }
    // Another machine writes this body just before each of the next `count` saves.
    void writeBeforeEachSave(int count, std::string body)
    {
        m_rivalWrites = count;
        m_rivalBody = std::move(body);
    }

    const std::vector<Sent>& requests() const { return m_requests; }

private:
    struct File {
        std::string body;
        std::string tag;
        MonotonicTime written;
    };

    std::string currentTag(const File& file) const
    {
        return m_issuesWeakTags && m_loop.now() - file.written < std::chrono::seconds(1) ? "W/" + file.tag : file.tag;
    }

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
            if (request.ifNoneMatch == currentTag(found->second))
                return status(304);
            return { RecordResponse::Outcome::answered, 200, currentTag(found->second), "Sun, 06 Dec 2026 20:00:00 GMT", found->second.body, {} };
        case RecordRequest::Method::put:
            if (request.ifNoneMatch && found != m_files.end())
                return status(412);
            if (request.ifMatch && (found == m_files.end() || currentTag(found->second) != *request.ifMatch || request.ifMatch->starts_with("W/")))
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
    bool m_issuesWeakTags { false };
    bool m_losesNextAnswer { false };
    int m_rivalWrites { 0 };
    std::string m_rivalBody;
};

}

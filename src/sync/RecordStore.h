#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace halcyra {

// A record file is a few hundred bytes; anything much larger is not ours and is never read whole.
inline constexpr std::size_t maximumRecordBodySize = 64 * 1024;

struct RecordRequest {
    enum class Method { get,
        put,
        mkcol };

    Method method { Method::get };
    // Relative to the server's base address ("Counts/", "Counts/WorkdayCounts.json").
    std::string path;
    std::optional<std::string> ifMatch;
    std::optional<std::string> ifNoneMatch;
    std::string body;
    // Sent only when both are known.
    std::string user;
    std::optional<std::string> password;
};

struct RecordResponse {
    enum class Outcome {
        answered,
        // No answer: the server could not be reached or the connection broke.
        networkFailure,
        timedOut,
        // The answer's body was larger than maximumRecordBodySize; it was not read.
        bodyTooLarge,
    };

    Outcome outcome { Outcome::answered };
    int status { 0 };
    std::optional<std::string> etag;
    std::string lastModified;
    std::string body;
    // For failures, what the network layer said, for the log.
    std::string failure;
};

// The user's WebDAV server. Each completion is called once, later, on the run loop; never after
// the store is destroyed.
class RecordStore {
public:
    virtual ~RecordStore() = default;
    virtual void send(RecordRequest, std::function<void(RecordResponse)> completion) = 0;
};

}

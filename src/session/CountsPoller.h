#pragma once

#include "base/Task.h"
#include "base/URL.h"

#include <memory>
#include <optional>
#include <string>

namespace halcyra {

class WebView;

// What the counts poller shows about the session.
struct PollState {
    enum class Kind { idle,
        notSignedIn,
        signingIn,
        polling,
        failed };

    Kind kind { Kind::idle };
    // Only for `failed`.
    std::string message;

    static PollState idle() { return { Kind::idle, {} }; }
    static PollState notSignedIn() { return { Kind::notSignedIn, {} }; }
    static PollState signingIn() { return { Kind::signingIn, {} }; }
    static PollState polling() { return { Kind::polling, {} }; }
    static PollState failed(std::string message) { return { Kind::failed, std::move(message) }; }

    bool operator==(const PollState&) const = default;
};

// The state's name as scripts and panel widgets read it.
inline const char* pollStateName(PollState::Kind kind)
{
    switch (kind) {
    case PollState::Kind::idle:
        return "idle";
    case PollState::Kind::notSignedIn:
        return "notSignedIn";
    case PollState::Kind::signingIn:
        return "signingIn";
    case PollState::Kind::polling:
        return "polling";
    case PollState::Kind::failed:
        return "failed";
    }
    return "idle";
}

// The part of the counts poller that the session drives.
class CountsPoller {
public:
    // Where the learned pages of the task and notification bubbles are kept.
    static constexpr const char* learnedTaskURLKey = "learnedTaskURL";
    static constexpr const char* learnedNotificationURLKey = "learnedNotificationURL";

    virtual ~CountsPoller() = default;

    // Takes the main web view and starts polling.
    virtual void attach(std::shared_ptr<WebView>) = 0;
    // The pages the task and notification bubbles lead to, learned from taps.
    virtual void setTaskURL(const std::string&) = 0;
    virtual void setNotificationURL(const std::string&) = 0;
    virtual void setState(PollState) = 0;
    // Whether the main view waits on a sign-in page that the automation will not pass alone.
    virtual bool isSignInBlocked(const std::optional<URL>&) const = 0;
    // One poll cycle, now.
    virtual Task<void> refresh() = 0;
};

}

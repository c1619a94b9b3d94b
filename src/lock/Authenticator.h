#pragma once

#include <functional>
#include <memory>
#include <string>

namespace halcyra {

// One owner-authentication prompt in flight.
class AuthenticationPrompt {
public:
    virtual ~AuthenticationPrompt() = default;
    // Withdraws the prompt. Its answer still arrives, later, and must then count as a failure.
    virtual void invalidate() = 0;
};

struct AuthenticationRequest {
    // Shown in the prompt: why the application asks.
    std::string reason;
    // The label of the prompt's way to the account password.
    std::string fallbackTitle;
};

// Asks the owner of the session to prove who they are (the desktop's authentication agent, or
// the account password). The answer runs exactly once, on the main loop, never inside
// `evaluate` itself, and also after the prompt was invalidated or destroyed.
class Authenticator {
public:
    virtual ~Authenticator() = default;
    virtual std::unique_ptr<AuthenticationPrompt> evaluate(const AuthenticationRequest&, std::function<void(bool succeeded)> answer) = 0;
};

}

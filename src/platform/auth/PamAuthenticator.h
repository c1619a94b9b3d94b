#pragma once

#include "lock/Authenticator.h"
#include "platform/auth/PasswordPrompt.h"

#include <string>

namespace halcyra {

// Checks `password` for the user running the application with PAM: the service "halcyra",
// or the system's "other" stack where that has no configuration. Blocks while PAM works (a
// module may wait seconds after a wrong password), so it runs on a worker thread.
bool checkAccountPassword(const std::string& password);

// The account password, asked for in the application's own dialog and checked with PAM.
class PamAuthenticator final : public Authenticator {
public:
    explicit PamAuthenticator(PasswordPrompt&);
    ~PamAuthenticator() override;

    std::unique_ptr<AuthenticationPrompt> evaluate(const AuthenticationRequest&, std::function<void(bool)> answer) override;

private:
    class Prompt;

    PasswordPrompt& m_passwordPrompt;
};

}

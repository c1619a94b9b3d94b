#pragma once

#include "lock/Authenticator.h"
#include "platform/glib/GRefPtr.h"

#include <gio/gio.h>
#include <string>

namespace halcyra {

// Owner authentication through polkit: the desktop's authentication agent asks for the
// password (or a fingerprint, where fprintd is set up) for the application's own unlock action.
// Where polkit cannot ask (no system bus, no agent in the session, the action not installed),
// the `fallback` asks instead.
class PolkitAuthenticator final : public Authenticator {
public:
    static constexpr const char* actionID = "com.ashgrove.Halcyra.unlock";

    // Tests name another action where the unlock action is not installed.
    explicit PolkitAuthenticator(Authenticator& fallback, std::string checkedActionID = actionID);
    ~PolkitAuthenticator() override;
    PolkitAuthenticator(const PolkitAuthenticator&) = delete;
    PolkitAuthenticator& operator=(const PolkitAuthenticator&) = delete;

    std::unique_ptr<AuthenticationPrompt> evaluate(const AuthenticationRequest&, std::function<void(bool)> answer) override;

private:
    struct Check;
    class Prompt;
    static void checkFinished(GObject*, GAsyncResult*, gpointer);

    Authenticator& m_fallback;
    const std::string m_actionID;
    GRefPtr<GDBusConnection> m_systemBus;
    unsigned m_nextCancellationNumber { 1 };
    std::shared_ptr<bool> m_lifetime { std::make_shared<bool>(true) };
};

}

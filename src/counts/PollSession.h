#pragma once

#include "base/Time.h"
#include "base/URL.h"

#include <memory>
#include <optional>

namespace halcyra {

class WebView;

// What counts polling asks of the signed-in session.
class PollSession {
public:
    virtual ~PollSession() = default;

    // The main web view, whose web process and network session the hidden views share.
    virtual std::shared_ptr<WebView> mainWebView() const = 0;
    virtual bool isRecoveryInProgress() const = 0;
    virtual std::optional<MonotonicTime> lastRecoveryAttempt() const = 0;
    // The automatic sign-in keeps the saved password back.
    virtual bool isPasswordWithheld() const = 0;
    // Absent until the credential store has answered once.
    virtual std::optional<bool> hasSavedCredentials() = 0;
    // A hidden page found the session ended: the same recovery as for the main view.
    virtual void recoverSession(const std::optional<URL>&) = 0;
};

}

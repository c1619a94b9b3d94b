#pragma once

#include "lock/Authenticator.h"
#include "session/LockController.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace halcyra {

class GateView;

// The gate over the main window's web view: while shown it keeps the page from every click
// and key stroke, and a click on it asks the owner to authenticate. Made shown. Held by its
// widget through a shared pointer; everybody else holds it weakly.
class TouchIDGate final : public LockGate, public std::enable_shared_from_this<TouchIDGate> {
public:
    static constexpr const char* reason = "Unlock Workday";
    static constexpr const char* fallbackTitle = "Use Password";

    TouchIDGate(GateView&, Authenticator&);
    ~TouchIDGate() override;
    TouchIDGate(const TouchIDGate&) = delete;
    TouchIDGate& operator=(const TouchIDGate&) = delete;

    bool isShown() const { return m_isShown; }
    bool isAuthenticating() const { return m_authenticationContext != nullptr; }

    // Asks for authentication unless the gate is hidden or a prompt is open already; in those
    // cases the completion is never called.
    void authenticate(std::function<void(bool succeeded)> completion) override;
    void lock() override;
    // Hides the gate without authentication (the opening for a first sign-in).
    void hideWithoutAuthentication();

    // A pointer press on the shown gate.
    void pointerPressed();

    void setOnUnlock(std::function<void()> action) { m_onUnlock = std::move(action); }
    void setOnLock(std::function<void()> action) { m_onLock = std::move(action); }

private:
    void answerArrived(std::uint64_t contextID, bool succeeded, const std::function<void(bool)>& completion);

    GateView& m_view;
    Authenticator& m_authenticator;
    bool m_isShown { true };
    std::function<void()> m_onUnlock;
    std::function<void()> m_onLock;
    // The prompt in flight, if any; its identifier tells its answer from a withdrawn prompt's.
    std::unique_ptr<AuthenticationPrompt> m_authenticationContext;
    std::uint64_t m_authenticationContextID { 0 };
    std::uint64_t m_nextContextID { 1 };
};

}

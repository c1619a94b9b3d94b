#pragma once

#include "base/Badge.h"
#include "base/TaskGroup.h"
#include "base/Time.h"
#include "session/WebEngine.h"

#include <optional>
#include <string>
#include <vector>

namespace halcyra {

class CountsPoller;
class KeychainStore;
class LockController;
class RunLoop;
class SessionRecovery;
class SettingsStore;
class WorkdayWebCoordinator;

// Answers the sign-in page script over the "workdayAuth" channel and decides whether the saved
// password may be handed out at all: never to a frame outside the SSO host, never after CAS
// rejected it, at most once per 120 seconds, and at most twice in 24 hours without a sign-in
// that reached Workday. Also answers Workday's "remember this device" prompt.
class SignInAutomation {
public:
    static constexpr const char* passwordRejectedKey = "ssoPasswordRejected";
    static constexpr const char* unconfirmedAutoSubmitsKey = "ssoUnconfirmedAutoSubmits";
    static constexpr const char* deniedMessage = "Credential request denied";
    static constexpr const char* unknownActionMessage = "Unknown credential action";

    SignInAutomation(WorkdayWebCoordinator&, RunLoop&, SettingsStore&, KeychainStore&, CountsPoller&, LockController&);

    // Answers through `reply` once the keychain has answered; a message from an untrusted sender
    // is denied at once.
    void handleAuthMessage(const ScriptMessage&, ScriptReplyHandler reply);
    // Why the saved password must not be handed out now; nothing when it may.
    std::optional<std::string> autoSubmitBlockReason() const;
    void markPasswordRejected(const std::string& reason);
    void confirmSignIn(const std::optional<URL>&);
    void checkUnauthorized(const NavigationResponse&);
    void answerRememberDevice(WebView&);

    // A sign-in that starts over after a broken flow may have the password at once.
    void forgetLastPasswordHandOut(Badge<SessionRecovery>) { m_lastPasswordHandOut.reset(); }

    bool isPasswordRejected() const;
    bool isPasswordWithheld() const { return m_isPasswordWithheld; }
    // Hand-out instants (seconds since 1970) not yet followed by a confirmed sign-in.
    std::vector<double> unconfirmedAutoSubmits() const;

private:
    bool isTrustedSender(const ScriptMessage&) const;
    Task<void> answer(Task<ScriptReply>, ScriptReplyHandler);
    Task<ScriptReply> getCredentials(nlohmann::json body);
    Task<ScriptReply> saveCredentials(nlohmann::json body);
    void setUnconfirmedAutoSubmits(const std::vector<double>&);
    Task<void> runRememberDeviceScript(std::shared_ptr<WebView>);

    WorkdayWebCoordinator& m_coordinator;
    RunLoop& m_loop;
    SettingsStore& m_settings;
    KeychainStore& m_keychain;
    CountsPoller& m_poller;
    LockController& m_lockController;
    std::optional<MonotonicTime> m_lastPasswordHandOut;
    bool m_isPasswordWithheld { false };
    std::optional<MonotonicTime> m_lastRememberDeviceAnswer;
    TaskGroup m_tasks;
};

}

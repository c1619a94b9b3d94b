#include "SignInAutomation.h"

#include "CountsPoller.h"
#include "LockController.h"
#include "LogFormatting.h"
#include "PageScripts.h"
#include "WorkdayWebCoordinator.h"
#include "base/Log.h"
#include "base/RunLoop.h"
#include "base/SettingsStore.h"
#include "credentials/KeychainStore.h"

#include <algorithm>

namespace halcyra {

namespace {

    constexpr Seconds handOutInterval { 120 };
    constexpr Seconds unconfirmedWindow { 86400 };
    constexpr int maximumUnconfirmedAutoSubmits = 2;
    constexpr Seconds rememberDeviceInterval { 60 };

    bool isIn(const std::vector<std::string>& hosts, const std::string& host)
    {
        return std::ranges::find(hosts, host) != hosts.end();
    }

    std::string stringMember(const nlohmann::json& body, const char* name)
    {
        auto member = body.find(name);
        if (member == body.end() || !member->is_string())
            return {};
        return member->get<std::string>();
    }

    ScriptReply credentialsReply(const std::string& username, const std::string& password)
    {
        return ScriptReply::success({ { "username", username }, { "password", password } });
    }

}

SignInAutomation::SignInAutomation(WorkdayWebCoordinator& coordinator, RunLoop& loop, SettingsStore& settings, KeychainStore& keychain, CountsPoller& poller, LockController& lockController)
    : m_coordinator(coordinator)
    , m_loop(loop)
    , m_settings(settings)
    , m_keychain(keychain)
    , m_poller(poller)
    , m_lockController(lockController)
    , m_tasks(loop)
{
    // A restart must not reopen the 120-second window: a hand-out recorded moments before the
    // previous process ended counts as this process's last hand-out.
    auto submits = unconfirmedAutoSubmits();
    if (!submits.empty()) {
        Seconds age(secondsSince1970(m_loop.wallNow()) - *std::ranges::max_element(submits));
        if (age < handOutInterval)
            m_lastPasswordHandOut = m_loop.now() - std::chrono::duration_cast<MonotonicTime::duration>(std::max(age, Seconds(0)));
    }
}

bool SignInAutomation::isPasswordRejected() const
{
    return m_settings.boolean(passwordRejectedKey).value_or(false);
}

std::vector<double> SignInAutomation::unconfirmedAutoSubmits() const
{
    auto stored = m_settings.array(unconfirmedAutoSubmitsKey);
    if (!stored)
        return {};
    std::vector<double> instants;
    for (auto& element : *stored) {
        if (!element.is_number())
            return {};
        instants.push_back(element.get<double>());
    }
    return instants;
}

void SignInAutomation::setUnconfirmedAutoSubmits(const std::vector<double>& instants)
{
    m_settings.setValue(unconfirmedAutoSubmitsKey, nlohmann::json(instants));
}

bool SignInAutomation::isTrustedSender(const ScriptMessage& message) const
{
    if (message.name != WorkdayWebCoordinator::authMessageName)
        return false;
    // The origin is the one the engine reports for the sending frame; the body could claim
    // anything.
    auto sender = message.webView.lock();
    if (!sender || sender != m_coordinator.webView())
        return false;
    const auto& origin = message.frameOrigin;
    if (origin.protocol != "https" || (origin.port != 0 && origin.port != 443))
        return false;
    if (!isIn(m_coordinator.endpoints().ssoHosts(), origin.host))
        return false;
    if (!message.body.is_object())
        return false;
    auto action = message.body.find("action");
    return action != message.body.end() && action->is_string();
}

void SignInAutomation::handleAuthMessage(const ScriptMessage& message, ScriptReplyHandler reply)
{
    if (!isTrustedSender(message))
        return reply(ScriptReply::failure(deniedMessage));

    auto action = message.body["action"].get<std::string>();
    if (action == "getCredentials")
        m_tasks.spawn(answer(getCredentials(message.body), std::move(reply)));
    else if (action == "saveCredentials")
        m_tasks.spawn(answer(saveCredentials(message.body), std::move(reply)));
    else
        reply(ScriptReply::failure(unknownActionMessage));
}

Task<void> SignInAutomation::answer(Task<ScriptReply> work, ScriptReplyHandler reply)
{
    reply(co_await std::move(work));
}

Task<ScriptReply> SignInAutomation::getCredentials(nlohmann::json body)
{
    auto showsError = body.find("showsError");
    if (showsError != body.end() && showsError->is_boolean() && showsError->get<bool>())
        markPasswordRejected("error shown on the form");

    logLaunchStep("CAS form asked for the credentials");
    auto credentials = co_await m_keychain.load();
    // What follows decides and records a hand-out in one step, so that requests answered
    // together by the keychain still see each other's hand-outs.
    if (credentials && !credentials->username.empty() && !credentials->password.empty()) {
        if (auto reason = autoSubmitBlockReason()) {
            logVerbose("[Workday] withholding the saved password: " + *reason);
            m_isPasswordWithheld = true;
            // A recovery under way now waits for the user.
            m_coordinator.recovery().waitForUser({});
            auto webView = m_coordinator.webView();
            if (m_poller.isSignInBlocked(webView ? webView->url() : std::nullopt))
                m_poller.setState(PollState::notSignedIn());
            co_return credentialsReply(credentials->username, {});
        }
        m_isPasswordWithheld = false;
        m_lastPasswordHandOut = m_loop.now();
        auto submits = unconfirmedAutoSubmits();
        submits.push_back(secondsSince1970(m_loop.wallNow()));
        setUnconfirmedAutoSubmits(submits);
        co_return credentialsReply(credentials->username, credentials->password);
    }
    co_return credentialsReply(credentials ? credentials->username : std::string(), {});
}

Task<ScriptReply> SignInAutomation::saveCredentials(nlohmann::json body)
{
    auto username = stringMember(body, "username");
    auto password = stringMember(body, "password");
    if (!username.empty() && !password.empty()) {
        if (m_lockController.isOpenForSignIn())
            m_lockController.endSignInOpening();
        m_settings.setBoolean(passwordRejectedKey, false);
        m_isPasswordWithheld = false;
        // The save records the user name with the password: one write of the item.
        co_await m_keychain.save(username, password);
    }
    co_return ScriptReply::success(true);
}

std::optional<std::string> SignInAutomation::autoSubmitBlockReason() const
{
    if (isPasswordRejected())
        return "CAS rejected the saved password";

    auto lastHandOut = m_lastPasswordHandOut;
    if (lastHandOut && m_loop.now() - *lastHandOut < handOutInterval)
        return "it was submitted moments ago, in this sign-in";

    double windowStart = secondsSince1970(m_loop.wallNow()) - unconfirmedWindow.count();
    auto submits = unconfirmedAutoSubmits();
    auto recent = std::ranges::count_if(submits, [&](double instant) { return instant > windowStart; });
    if (recent >= maximumUnconfirmedAutoSubmits)
        return std::to_string(recent) + " sign-ins in the last 24 hours didn't complete";

    return std::nullopt;
}

void SignInAutomation::markPasswordRejected(const std::string& reason)
{
    if (!isPasswordRejected())
        logVerbose("[Workday] CAS rejected the password (" + reason + "); not auto-submitting it again");
    m_settings.setBoolean(passwordRejectedKey, true);
}

void SignInAutomation::confirmSignIn(const std::optional<URL>& url)
{
    if (!url || url->scheme() != "https" || !url->host())
        return;
    const auto& endpoints = m_coordinator.endpoints();
    // Duo is reached only after CAS accepted the password.
    bool isConfirmed = endpoints.isSignedInTenantPage(url) || endpoints.isDuoAPIHost(*url->host());
    if (!isConfirmed)
        return;

    m_isPasswordWithheld = false;
    if (isPasswordRejected() || !unconfirmedAutoSubmits().empty()) {
        m_settings.setBoolean(passwordRejectedKey, false);
        setUnconfirmedAutoSubmits({});
    }
}

void SignInAutomation::checkUnauthorized(const NavigationResponse& response)
{
    if (!response.isForMainFrame || response.httpStatus != 401)
        return;
    const auto& url = response.url;
    if (!url || !url->host() || url->scheme() != "https")
        return;
    if (url->port() && *url->port() != 443)
        return;
    if (isIn(m_coordinator.endpoints().ssoHosts(), *url->host()))
        markPasswordRejected("HTTP 401");
}

void SignInAutomation::answerRememberDevice(WebView& webView)
{
    if (m_lastRememberDeviceAnswer && m_loop.now() - *m_lastRememberDeviceAnswer < rememberDeviceInterval)
        return;
    m_tasks.spawn(runRememberDeviceScript(webView.shared_from_this()));
}

Task<void> SignInAutomation::runRememberDeviceScript(std::shared_ptr<WebView> webView)
{
    auto result = co_await callAsync(*webView, std::string(rememberDeviceScript()), nlohmann::json::object());
    if (!result || result->isError())
        co_return;
    if (!result->value->is_string())
        co_return;
    auto answer = result->value->get<std::string>();
    if (answer == "answered")
        m_lastRememberDeviceAnswer = m_loop.now();
    logVerbose("[Workday] remember-device prompt: " + answer);
}

}

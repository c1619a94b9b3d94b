#include "EngineSession.h"

#include "support/MainLoopTask.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

class SignInTest : public EngineSessionTest {
protected:
    std::optional<Credentials> savedCredentials()
    {
        KeychainStore store(m_keychain, m_settings);
        return runOnMainLoop(store.load());
    }
};

// A script of a page outside the sign-in site (here a Workday page) that keeps the message
// channel of a same-origin frame, sends the frame on to the sign-in site and then asks through
// the kept channel: for the password, to save other credentials, and (by reporting an error on
// the form) to turn automatic sign-in off. It replaces the Promise of each kept channel's realm, so
// that any answer reaches it even when the realm's document is gone. window.__attack.outcomes
// lists what each message got.
constexpr const char* keptChannelAttack = R"JS((function () {
    var signIn = "https://login.ashgrove.test";
    var attack = window.__attack = { outcomes: [], expected: 0, finished: false };
    var messages = [
        { action: "getCredentials" },
        { action: "saveCredentials", username: "mallory", password: "planted-password" },
        { action: "getCredentials", showsError: true }
    ];
    function record(route, action, outcome, value) {
        attack.outcomes.push({ route: route, action: action, outcome: outcome, value: value === undefined ? null : value });
    }
    function subvert(route, realm) {
        var current = null;
        realm.Promise = function (executor) {
            var action = current;
            executor(function (value) { record(route, action, "resolved", value); },
                function (error) { record(route, action, "rejected", String(error && error.message)); });
        };
        return function (action) { current = action; };
    }
    function send(route, handler, setAction) {
        messages.forEach(function (message) {
            attack.expected++;
            if (setAction)
                setAction(message.action);
            try {
                var answer = handler.postMessage(message);
                if (answer && typeof answer.then === "function") {
                    answer.then(function (value) { record(route, message.action, "resolved", value); },
                        function (error) { record(route, message.action, "rejected", String(error && error.message)); });
                }
            } catch (error) {
                record(route, message.action, "threw", String(error));
            }
        });
    }
    // Each address is loaded in turn into a new same-origin frame whose first channel was kept;
    // `go` moves the frame on (by src or by a named window.open).
    function keptFrameChannel(route, addresses, go, next) {
        var frame = document.createElement("iframe");
        frame.name = "kept" + Math.random().toString(36).slice(2);
        document.body.appendChild(frame);
        var realm = frame.contentWindow;
        var handlers = realm.webkit && realm.webkit.messageHandlers;
        if (!handlers || !handlers.workdayAuth) {
            attack.expected++;
            record(route, null, "no channel");
            next();
            return;
        }
        var kept = handlers.workdayAuth;
        var setAction = subvert(route, realm);
        var index = 0;
        frame.onload = function () {
            if (index < addresses.length) {
                go(frame, addresses[index++]);
                return;
            }
            send(route, kept, setAction);
            next();
        };
        go(frame, addresses[index++]);
    }
    function bySource(frame, address) { frame.src = address; }
    function byWindowOpen(frame, address) { window.open(address, frame.name); }
    keptFrameChannel("frame sent to a sign-in page", [signIn + "/cas/logout"], bySource, function () {
        keptFrameChannel("frame sent to a sign-in image", [signIn + "/cas/images/logo.gif"], bySource, function () {
            keptFrameChannel("frame sent away and back", [signIn + "/cas/logout", "data:text/html,away", signIn + "/cas/logout"], bySource, function () {
                keptFrameChannel("named window.open of a sign-in page", [signIn + "/cas/logout"], byWindowOpen, function () {
                    send("this page's own channel", window.webkit.messageHandlers.workdayAuth);
                    attack.finished = true;
                });
            });
        });
    });
})())JS";

// The opener keeps its own channel and a frame's, opens the sign-in form as a new window (which
// the application loads in the main view instead) and asks through both while its document goes
// away. What it saw is kept in its origin's storage.
constexpr const char* openerAttack = R"JS((function () {
    var key = "halcyra-attack";
    localStorage.setItem(key, "[]");
    function record(route, action, outcome, value) {
        var outcomes = JSON.parse(localStorage.getItem(key) || "[]");
        outcomes.push({ route: route, action: action, outcome: outcome, value: value === undefined ? null : value });
        localStorage.setItem(key, JSON.stringify(outcomes));
    }
    var messages = [
        { action: "getCredentials" },
        { action: "saveCredentials", username: "mallory", password: "planted-password" },
        { action: "getCredentials", showsError: true }
    ];
    function keep(route, realm) {
        var kept = realm.webkit.messageHandlers.workdayAuth;
        var current = null;
        realm.Promise = function (executor) {
            var action = current;
            executor(function (value) { record(route, action, "resolved", value); },
                function (error) { record(route, action, "rejected", String(error && error.message)); });
        };
        return function (when) {
            messages.forEach(function (message) {
                current = message.action;
                record(route, message.action, "sent " + when);
                try {
                    kept.postMessage(message);
                } catch (error) {
                    record(route, message.action, "threw", String(error));
                }
            });
        };
    }
    var frame = document.createElement("iframe");
    document.body.appendChild(frame);
    var senders = [keep("opener's own channel", window), keep("opener's frame's channel", frame.contentWindow)];
    function sendAll(when) { senders.forEach(function (send) { send(when); }); }
    window.addEventListener("pagehide", function () { sendAll("at pagehide"); });
    window.addEventListener("unload", function () { sendAll("at unload"); });
    window.open("https://login.ashgrove.test/cas/login");
    sendAll("after window.open");
    setTimeout(function () { sendAll("while the sign-in page loads"); }, 0);
})())JS";

// What a page got from the kept channels: every answer, and whether any carried the password or
// reached the application's keychain and settings.
void expectNothingReached(const nlohmann::json& outcomes)
{
    ASSERT_TRUE(outcomes.is_array());
    for (const auto& outcome : outcomes) {
        SCOPED_TRACE(outcome.dump());
        EXPECT_NE(outcome["outcome"], "resolved");
        EXPECT_NE(outcome["outcome"], "no channel");
        EXPECT_EQ(outcome.dump().find("ashgrove-demo"), std::string::npos);
    }
}

}

TEST_F(SignInTest, savedCredentialsSignInWithExactlyOneSubmission)
{
    auto run = startSignedIn();
    EXPECT_EQ(passwordSubmissions(), 1);
    EXPECT_EQ(s_tenant->state()["lastUsername"], "demo");
    // Reaching Workday confirmed the sign-in.
    EXPECT_TRUE(m_settings.array("ssoUnconfirmedAutoSubmits").value_or(nlohmann::json::array_t {}).empty());
}

TEST_F(SignInTest, rejectedPasswordIsSubmittedOnceEvenAcrossReloadsAndRestarts)
{
    for (auto mode : { "form-error", "401" }) {
        SCOPED_TRACE(mode);
        auto earlierValues = m_settings.allValues();
        for (auto& [key, value] : earlierValues.items())
            m_settings.removeValue(key);
        s_tenant->control("POST", "/reset");
        s_tenant->control("POST", "/reject", { { "mode", mode } });
        saveCredentials("wrong-password");
        {
            auto run = start();
            ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == 1; }, 20s));
            ASSERT_TRUE(runMainLoopUntil([&] { return m_settings.boolean("ssoPasswordRejected").value_or(false); }, 20s));
            for (int reload = 0; reload < 2; ++reload) {
                run->coordinator.loadEntry(*run->coordinator.webView());
                runMainLoopFor(2s);
            }
        }
        // After a restart the user name is filled in for the user to finish by hand; the password
        // is not sent again.
        auto restarted = start();
        runMainLoopFor(3s);
        EXPECT_TRUE(runMainLoopUntil([&] { return restarted->evaluate("(document.querySelector('input[name=\"username\"]') || {}).value || ''").value == "demo"; }, 20s));
        EXPECT_EQ(passwordSubmissions(), 1);
    }
}

TEST_F(SignInTest, endedSessionIsSignedBackInOnceWithin180Seconds)
{
    auto run = startSignedIn();
    auto submissionsAfterSignIn = passwordSubmissions();

    // Past the two minutes in which the same sign-in never gets the password twice.
    run->runLoop.shiftClock(121s);
    s_tenant->control("POST", "/expire-sessions");
    run->coordinator.loadHome();
    ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == submissionsAfterSignIn + 1; }, 20s));
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 30s));

    // A second end within three minutes of that recovery is left for the user.
    run->runLoop.shiftClock(121s);
    s_tenant->control("POST", "/expire-sessions");
    run->coordinator.loadHome();
    ASSERT_TRUE(runMainLoopUntil([&] { return s_configuration->endpoints.isSessionEndedURL(run->url()); }, 20s));
    runMainLoopFor(3s);
    EXPECT_EQ(passwordSubmissions(), submissionsAfterSignIn + 1);
    EXPECT_TRUE(s_configuration->endpoints.isSessionEndedURL(run->url()));
}

TEST_F(SignInTest, aKeptMessageChannelAnswersNoOtherDocument)
{
    auto run = startSignedIn();
    // Past the two minutes in which the password is handed out once: any answer now carries it.
    run->runLoop.shiftClock(121s);
    ASSERT_FALSE(run->evaluate(keptChannelAttack).isError());
    ASSERT_TRUE(runMainLoopUntil([&] {
        return run->evaluate("window.__attack.finished && window.__attack.outcomes.length >= window.__attack.expected").value == true;
    },
        30s));
    auto outcomes = nlohmann::json::parse(run->evaluate("JSON.stringify(window.__attack.outcomes)").value->get<std::string>());
    EXPECT_EQ(outcomes.size(), 15u) << outcomes.dump();
    expectNothingReached(outcomes);
    EXPECT_EQ(savedCredentials(), (Credentials { "demo", "ashgrove-demo" }));
    EXPECT_FALSE(m_settings.boolean("ssoPasswordRejected").value_or(false));
    EXPECT_TRUE(m_settings.array("ssoUnconfirmedAutoSubmits").value_or(nlohmann::json::array_t {}).empty());

    // The opener's sign-in form, loaded in the main view, still gets its answer and signs in once.
    auto submissions = passwordSubmissions();
    run->runLoop.shiftClock(121s);
    ASSERT_FALSE(run->evaluate(openerAttack).isError());
    ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == submissions + 1; }, 30s)) << run->urlText();
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage() && !run->coordinator.webView()->isLoading(); }, 30s)) << run->urlText();
    auto openerOutcomes = nlohmann::json::parse(run->evaluate("localStorage.getItem('halcyra-attack') || '[]'").value->get<std::string>());
    EXPECT_TRUE(std::ranges::any_of(openerOutcomes, [](const nlohmann::json& outcome) { return outcome["outcome"] == "sent after window.open"; })) << openerOutcomes.dump();
    expectNothingReached(openerOutcomes);
    EXPECT_EQ(savedCredentials(), (Credentials { "demo", "ashgrove-demo" }));
    EXPECT_FALSE(m_settings.boolean("ssoPasswordRejected").value_or(false));
    EXPECT_EQ(passwordSubmissions(), submissions + 1);
}

int main(int argc, char** argv)
{
    return runEngineTests(argc, argv);
}

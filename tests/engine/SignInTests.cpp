#include "EngineSession.h"
#include "support/LogCapture.h"

#include "support/MainLoopTask.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

class SignInTest : public EngineSessionTest {
protected:
    // What the attacking page recorded in its origin's storage.
    static nlohmann::json attackOutcomes(SessionRun& run)
    {
        auto result = run.evaluate("localStorage.getItem('attack') || '[]'");
        return nlohmann::json::parse(result.isError() ? "[]" : result.value->get<std::string>());
    }

    // Every answer the page got was a refusal, and nothing reached the keychain or the settings.
    void expectNothingReached(const nlohmann::json& outcomes)
    {
        for (const auto& entry : outcomes) {
            SCOPED_TRACE(entry.dump());
            auto outcome = entry["outcome"].get<std::string>();
            EXPECT_TRUE(outcome.starts_with("sent ") || outcome == "rejected");
            EXPECT_EQ(entry.dump().find("ashgrove-demo"), std::string::npos);
        }
        KeychainStore store(m_keychain, m_settings);
        EXPECT_EQ(runOnMainLoop(store.load()), (Credentials { "demo", "ashgrove-demo" }));
        EXPECT_FALSE(m_settings.boolean("ssoPasswordRejected").value_or(false));
    }
};

// A page outside the sign-in site (a Workday page here) keeps the message channel of a realm and
// asks through it for the password, to save other credentials and (reporting an error on the
// form) to turn automatic sign-in off, once the realm's frame shows the sign-in site. It replaces
// each kept realm's Promise, so that any answer reaches it even when the realm's document is gone,
// and records in its origin's storage what each message got. Called with false: same-origin frames
// sent on by address or by a named window.open, then its own channel; with true: it opens the
// sign-in form as a new window (which the application loads in the main view) and asks while its
// own document goes away.
constexpr const char* keptChannelAttack = R"JS((function (asOpener) {
    var signIn = "https://login.ashgrove.test";
    localStorage.setItem("attack", "[]");
    function record(route, outcome, action, value) {
        var outcomes = JSON.parse(localStorage.getItem("attack"));
        outcomes.push({ route: route, outcome: outcome, action: action, value: value === undefined ? null : value });
        localStorage.setItem("attack", JSON.stringify(outcomes));
    }
    function keep(route, realm) {
        var kept = realm.webkit && realm.webkit.messageHandlers.workdayAuth;
        var action = null;
        realm.Promise = function (executor) {
            var asked = action;
            executor(function (value) { record(route, "resolved", asked, value); },
                function (error) { record(route, "rejected", asked, String(error && error.message)); });
        };
        return function (when) {
            [{ action: "getCredentials" }, { action: "saveCredentials", username: "mallory", password: "planted" },
                { action: "getCredentials", showsError: true }].forEach(function (message) {
                action = message.action;
                record(route, "sent " + when, action);
                try {
                    kept.postMessage(message);
                } catch (error) {
                    record(route, "threw", action, String(error));
                }
            });
        };
    }
    if (asOpener) {
        var frame = document.body.appendChild(document.createElement("iframe"));
        var senders = [keep("opener's own channel", window), keep("opener's frame's channel", frame.contentWindow)];
        var sendAll = function (when) { senders.forEach(function (send) { send(when); }); };
        addEventListener("pagehide", function () { sendAll("at pagehide"); });
        addEventListener("unload", function () { sendAll("at unload"); });
        window.open(signIn + "/cas/login");
        sendAll("after window.open");
        setTimeout(function () { sendAll("while the sign-in page loads"); }, 0);
        return;
    }
    var routes = [["frame sent to a sign-in page", [signIn + "/cas/logout"]],
        ["frame sent to a sign-in image", [signIn + "/cas/images/logo.gif"]],
        ["frame sent away and back", [signIn + "/cas/logout", "data:text/html,away", signIn + "/cas/logout"]],
        ["frame sent by a named window.open", [signIn + "/cas/logout"], true]];
    (function next() {
        var route = routes.shift();
        if (!route) {
            keep("the page's own channel", window)("from the page");
            window.attackFinished = true;
            return;
        }
        var frame = document.createElement("iframe");
        frame.name = "kept" + routes.length;
        document.body.appendChild(frame);
        var send = keep(route[0], frame.contentWindow);
        var go = function () {
            var address = route[1].shift();
            route[2] ? window.open(address, frame.name) : frame.src = address;
        };
        frame.onload = function () {
            if (route[1].length)
                return go();
            send("after the frame moved on");
            next();
        };
        go();
    })();
}))JS";

}

TEST_F(SignInTest, rejectedPasswordIsSubmittedOnceEvenAcrossReloadsAndRestarts)
{
    const std::string withheld = "[Workday] withholding the saved password: CAS rejected the saved password";
    // The password field of the next sign-in form reached once the password was withheld again
    // and the page filled in the user name alone; each document is looked at once.
    auto passwordOnNextForm = [&](SessionRun& run, LogCapture& log, int withheldCount) {
        std::optional<nlohmann::json> password;
        runMainLoopUntil([&] {
            auto reply = log.count(withheld) < withheldCount ? ScriptReply::failure("not yet") : run.evaluate("(function () { var user = document.querySelector('input[name=\"username\"]'); if (window.seenByTest || !user || user.value !== 'demo') return null; window.seenByTest = true; return document.querySelector('input[type=\"password\"]').value; })()");
            if (!reply.isError() && reply.value->is_string())
                password = *reply.value;
            return password.has_value();
        },
            20s);
        return password ? password->get<std::string>() : "no form withheld, on " + run.urlText();
    };
    for (auto mode : { "form-error", "401" }) {
        SCOPED_TRACE(mode);
        LogCapture log;
        auto earlierValues = m_settings.allValues();
        for (auto& [key, value] : earlierValues.items())
            m_settings.removeValue(key);
        s_tenant->control("POST", "/reset");
        s_tenant->control("POST", "/reject", { { "mode", mode } });
        saveCredentials("wrong-password");
        {
            auto run = start();
            ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == 1; }, 20s));
            ASSERT_EQ(passwordOnNextForm(*run, log, 1), "");
            // Past the two minutes in which the password is withheld anyway: only the rejection
            // keeps it back now.
            run->runLoop.shiftClock(121s);
            for (int reload = 1; reload <= 2; ++reload) {
                run->coordinator.loadEntry(*run->coordinator.webView());
                ASSERT_EQ(passwordOnNextForm(*run, log, 1 + reload), "") << "reload " << reload;
            }
        }
        // After a restart the user name is filled in for the user to finish by hand; the password
        // is not sent again.
        auto restarted = start();
        restarted->runLoop.shiftClock(121s);
        EXPECT_EQ(passwordOnNextForm(*restarted, log, 4), "");
        EXPECT_EQ(passwordSubmissions(), 1);
    }
}

TEST_F(SignInTest, savedCredentialsSignInOnceAndAKeptMessageChannelAnswersNoOtherDocument)
{
    auto run = startSignedIn();
    EXPECT_EQ(passwordSubmissions(), 1);
    EXPECT_EQ(s_tenant->state()["lastUsername"], "demo");
    // Past the two minutes in which the password is handed out once: any answer now carries it.
    run->runLoop.shiftClock(121s);
    ASSERT_FALSE(run->evaluate(std::string(keptChannelAttack) + "(false)").isError());
    ASSERT_TRUE(runMainLoopUntil([&] {
        auto outcomes = attackOutcomes(*run);
        auto sent = std::ranges::count_if(outcomes, [](auto& entry) { return entry["outcome"].template get<std::string>().starts_with("sent "); });
        return run->evaluate("!!window.attackFinished").value == true && sent == 15 && outcomes.size() == 30u;
    },
        30s))
        << attackOutcomes(*run).dump();
    expectNothingReached(attackOutcomes(*run));
    EXPECT_TRUE(m_settings.array("ssoUnconfirmedAutoSubmits").value_or(nlohmann::json::array_t {}).empty());

    // The sign-in form the opener asked for, loaded in the main view, still gets its answer.
    auto submissions = passwordSubmissions();
    run->runLoop.shiftClock(121s);
    ASSERT_FALSE(run->evaluate(std::string(keptChannelAttack) + "(true)").isError());
    ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == submissions + 1; }, 30s)) << run->urlText();
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage() && !run->coordinator.webView()->isLoading(); }, 30s)) << run->urlText();
    auto openerOutcomes = attackOutcomes(*run);
    EXPECT_TRUE(std::ranges::any_of(openerOutcomes, [](auto& entry) { return entry["outcome"] == "sent at pagehide"; })) << openerOutcomes.dump();
    expectNothingReached(openerOutcomes);
    EXPECT_EQ(passwordSubmissions(), submissions + 1);
}

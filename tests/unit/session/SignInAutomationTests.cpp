#include "support/LogCapture.h"
#include "support/SessionHarness.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

    const std::string withheldMomentsAgo = "[Workday] withholding the saved password: it was submitted moments ago, in this sign-in";

    class SignInAutomationTest : public ::testing::Test {
    protected:
        SignInAutomationTest() { session.saveCredentials("demo", "ashgrove-demo"); }

        ScriptReply send(nlohmann::json body, SecurityOrigin origin = SessionHarness::ssoOrigin(), const std::string& name = "workdayAuth")
        {
            auto reply = session.view().sendScriptMessage(name, std::move(body), std::move(origin));
            EXPECT_TRUE(reply) << "the handler must answer at once";
            return reply.value_or(ScriptReply::failure("no reply"));
        }

        static nlohmann::json getCredentials() { return { { "action", "getCredentials" }, { "showsError", false } }; }
        static nlohmann::json saveCredentials(nlohmann::json password) { return { { "action", "saveCredentials" }, { "username", "demo2" }, { "password", password } }; }
        size_t unconfirmedCount() { return session.session().signIn().unconfirmedAutoSubmits().size(); }

        SessionHarness session;
        LogCapture log;
    };

    TEST_F(SignInAutomationTest, passwordHandedOutOncePer120sAndAtMostTwiceIn24HoursAcrossRestarts)
    {
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");

        session.loop.advance(Seconds(119.9));
        EXPECT_EQ(session.handedOutPassword(), "");
        EXPECT_TRUE(session.session().isPasswordWithheld());
        EXPECT_TRUE(log.contains(withheldMomentsAgo));

        session.restart();
        EXPECT_EQ(session.handedOutPassword(), "");
        EXPECT_EQ(log.count(withheldMomentsAgo), 2);

        session.loop.advance(Seconds(0.1));
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        EXPECT_FALSE(session.session().isPasswordWithheld());

        session.loop.advance(3600s);
        session.restart();
        EXPECT_EQ(session.handedOutPassword(), "");
        EXPECT_TRUE(log.contains("[Workday] withholding the saved password: 2 sign-ins in the last 24 hours didn't complete"));

        // 24 hours after the first hand-out only the second one still counts.
        session.loop.advance(Seconds(86400 - 3600 - 120 - 0.1));
        EXPECT_EQ(session.handedOutPassword(), "");
        session.loop.advance(Seconds(0.1));
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        EXPECT_EQ(unconfirmedCount(), 3u);
    }

    TEST_F(SignInAutomationTest, formErrorMarksPasswordRejectedOnceAndWithholdsItAcrossRestartsUntilSignInConfirmed)
    {
        auto reply = session.requestCredentials(true);
        ASSERT_TRUE(reply && !reply->isError());
        EXPECT_EQ(*reply->value, (nlohmann::json { { "username", "demo" }, { "password", "" } }));
        session.requestCredentials(true);
        EXPECT_EQ(log.count("[Workday] CAS rejected the password (error shown on the form); not auto-submitting it again"), 1);
        EXPECT_TRUE(log.contains("[Workday] withholding the saved password: CAS rejected the saved password"));

        session.loop.advance(48h);
        session.restart();
        EXPECT_EQ(session.handedOutPassword(), "");

        session.commit("https://wd5.myworkday.test/ashgrove/d/home.htmld");
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
    }

    // For each address: whether a 401 answer for it rejects the password (only the sign-in host's
    // main frame over https on port 443), and whether reaching it confirms the sign-in (only a
    // signed-in tenant page or Duo), which lifts a rejection too.
    TEST_F(SignInAutomationTest, only401sFromTheSignInHostRejectAndOnlySignedInTenantPagesOrDuoConfirm)
    {
        const std::tuple<std::string, bool, bool, bool> cases[] = {
            { "https://login.ashgrove.test:443/cas/login", true, true, false },
            { "https://login.ashgrove.test/cas/login", false, false, false },
            { "https://login.ashgrove.test:8443/cas/login", true, false, false },
            { "http://login.ashgrove.test/cas/login", true, false, false },
            { "https://wd5.myworkday.test/ashgrove/d/inbox.htmld", true, false, true },
            { "http://wd5.myworkday.test/ashgrove/d/home.htmld", true, false, false },
            { "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld", true, false, false },
            { "https://api-d3m0.duosecurity.test/frame/prompt", true, false, true },
            { "https://api-d3m0duosecurity.test/frame/prompt", true, false, false },
            { "https://evilmyworkday.test/ashgrove/d/inbox.htmld", true, false, false },
        };
        for (const auto& [address, isForMainFrame, rejects, confirms] : cases) {
            SCOPED_TRACE(address);
            session.loop.advance(120s);
            EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
            NavigationResponse response;
            response.httpStatus = 401;
            response.url = url(address);
            response.isForMainFrame = isForMainFrame;
            EXPECT_EQ(session.view().decideResponse(response), NavigationResponsePolicy::allow);
            EXPECT_EQ(session.session().signIn().isPasswordRejected(), rejects);

            session.requestCredentials(true);
            session.commit(address);
            EXPECT_EQ(unconfirmedCount() == 0, confirms);
            EXPECT_EQ(session.session().signIn().isPasswordRejected(), !confirms);
            session.session().signIn().confirmSignIn(url("https://wd5.myworkday.test/ashgrove/d/home.htmld"));
        }
        EXPECT_TRUE(log.contains("[Workday] CAS rejected the password (HTTP 401); not auto-submitting it again"));
    }

    // Typed credentials are saved and lift the rejection; an empty or missing password saves nothing.
    TEST_F(SignInAutomationTest, typedCredentialsAreSavedAndLiftTheRejectionButNotTheUnconfirmedList)
    {
        session.lockController.openForSignIn = true;
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        session.session().signIn().markPasswordRejected("HTTP 401");

        EXPECT_EQ(send(saveCredentials("")).value, nlohmann::json(true));
        EXPECT_EQ(send(saveCredentials(42)).value, nlohmann::json(true));
        EXPECT_EQ(session.run(session.keychainStore->load()), (Credentials { "demo", "ashgrove-demo" }));
        EXPECT_TRUE(session.session().signIn().isPasswordRejected());

        EXPECT_EQ(send(saveCredentials("typed")).value, nlohmann::json(true));
        EXPECT_EQ(session.run(session.keychainStore->load()), (Credentials { "demo2", "typed" }));
        EXPECT_FALSE(session.session().signIn().isPasswordRejected());
        EXPECT_EQ(unconfirmedCount(), 1u);
        EXPECT_FALSE(session.lockController.openForSignIn);
        EXPECT_FALSE(session.session().isPasswordWithheld());
    }

    // Only a well-formed request from the sign-in host over https in the main view gets credentials.
    TEST_F(SignInAutomationTest, credentialRequestsFromAnywhereButTheSSOHostOverHTTPSOrMalformedAreDenied)
    {
        auto forged = getCredentials();
        forged["origin"] = "https://login.ashgrove.test";
        forged["host"] = "login.ashgrove.test";
        const std::vector<std::tuple<nlohmann::json, SecurityOrigin, std::string, std::string>> cases {
            { getCredentials(), { "http", "login.ashgrove.test", 0 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), { "https", "login.ashgrove.test", 8443 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), { "https", "wd5.myworkday.test", 0 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), { "https", "LOGIN.ashgrove.test", 0 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), { "https", "login.ashgrove.test.evil.test", 443 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), { "https", "shib.ashgrove.test.example", 0 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), { "https", "api-d3m0duosecurity.test", 0 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), { "https", "evilmyworkday.test", 0 }, "workdayAuth", "Credential request denied" },
            { forged, { "https", "evil.test", 0 }, "workdayAuth", "Credential request denied" },
            { getCredentials(), SessionHarness::ssoOrigin(), "otherChannel", "Credential request denied" },
            { nlohmann::json::array({ "getCredentials" }), SessionHarness::ssoOrigin(), "workdayAuth", "Credential request denied" },
            { { { "action", 1 } }, SessionHarness::ssoOrigin(), "workdayAuth", "Credential request denied" },
            { { { "showsError", false } }, SessionHarness::ssoOrigin(), "workdayAuth", "Credential request denied" },
            { { { "action", "deleteCredentials" } }, SessionHarness::ssoOrigin(), "workdayAuth", "Unknown credential action" },
        };
        for (const auto& [body, origin, channel, error] : cases)
            EXPECT_EQ(send(body, origin, channel).errorMessage, error) << body.dump() << " from " << origin.protocol << "://" << origin.host << ":" << origin.port;
        auto other = std::static_pointer_cast<FakeWebView>(session.session().makeWebView(800, 900));
        EXPECT_EQ(other->sendScriptMessage("workdayAuth", getCredentials(), SessionHarness::ssoOrigin())->errorMessage, "Credential request denied");
        EXPECT_EQ(unconfirmedCount(), 0u);

        EXPECT_EQ(send(getCredentials(), { "https", "login.ashgrove.test", 443 }).value.value()["password"], "ashgrove-demo");
        EXPECT_EQ(unconfirmedCount(), 1u);
    }

    TEST_F(SignInAutomationTest, requestsAnsweredTogetherByALockedKeyringHandThePasswordOutOnce)
    {
        session.restart();
        session.keychain.isHoldingAnswers = true;
        auto first = session.requestCredentials();
        auto second = session.requestCredentials();
        EXPECT_FALSE(first || second) << "the answers wait for the keyring";

        std::vector<std::string> passwords;
        session.view().onScriptReply = [&](const ScriptReply& reply) { passwords.push_back((*reply.value)["password"]); };
        session.keychain.answerHeld();
        EXPECT_EQ(passwords, (std::vector<std::string> { "ashgrove-demo", "" }));
        EXPECT_EQ(unconfirmedCount(), 1u);
    }

    TEST_F(SignInAutomationTest, withholdingOnABlockedSignInPageShowsNotSignedInAndEndsTheRecovery)
    {
        session.poller.signInBlockedTest = [](const std::optional<URL>& url) { return url && url->host() == "login.ashgrove.test"; };
        session.commit("https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld");
        ASSERT_TRUE(session.session().isRecoveryInProgress());
        session.commit("https://login.ashgrove.test/cas/login");
        session.session().signIn().markPasswordRejected("HTTP 401");

        EXPECT_EQ(session.handedOutPassword(), "");
        EXPECT_FALSE(session.session().isRecoveryInProgress());
        EXPECT_EQ(session.poller.lastState, PollState::notSignedIn());
    }

    TEST_F(SignInAutomationTest, storedSubmitListOfTheWrongShapeReadsAsEmptyAndNoCredentialsGiveAnEmptyReply)
    {
        double now = secondsSince1970(session.loop.wallNow());
        session.settings.setValue("ssoUnconfirmedAutoSubmits", nlohmann::json::array({ now - 10, now - 20, "x" }));
        EXPECT_EQ(unconfirmedCount(), 0u);
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        EXPECT_EQ(unconfirmedCount(), 1u);

        session.run(session.keychainStore->deleteCredentials());
        session.loop.advance(120s);
        EXPECT_EQ(send(getCredentials()).value, (nlohmann::json { { "username", "" }, { "password", "" } }));
        EXPECT_EQ(unconfirmedCount(), 1u);
    }

    // The remember-device prompt is answered at most once a minute, counted from a real answer.
    TEST_F(SignInAutomationTest, rememberDevicePromptIsAnsweredAtMostOncePerMinute)
    {
        const std::string gatewayLogin = "https://wd5.myworkday.test/wday/authgwy/ashgrove/login.htmld";
        session.commit(gatewayLogin);
        session.view().answerScript(ScriptReply::success("no prompt"));
        EXPECT_TRUE(log.contains("[Workday] remember-device prompt: no prompt"));
        session.commit(gatewayLogin + "?x=1");
        ASSERT_EQ(session.view().pendingScripts().size(), 1u);
        session.view().answerScript(ScriptReply::failure("page went away"));

        const std::string prompt = "https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login?pending=trust";
        session.commit(prompt);
        ASSERT_EQ(session.view().pendingScripts().size(), 1u);
        session.view().answerScript(ScriptReply::success("answered"));
        EXPECT_TRUE(log.contains("[Workday] remember-device prompt: answered"));

        session.loop.advance(Seconds(59.9));
        session.commit(prompt + "&again=1");
        EXPECT_TRUE(session.view().pendingScripts().empty());

        session.loop.advance(Seconds(0.1));
        session.commit(prompt);
        EXPECT_EQ(session.view().pendingScripts().size(), 1u);
    }

}
}

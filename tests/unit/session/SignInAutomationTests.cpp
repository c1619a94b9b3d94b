#include "support/LogCapture.h"
#include "support/SessionHarness.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

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

        SessionHarness session;
        LogCapture log;
    };

    TEST_F(SignInAutomationTest, secondCredentialRequestWithin120sGetsUserNameOnly)
    {
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        EXPECT_FALSE(session.session().isPasswordWithheld());

        session.loop.advance(Seconds(119.9));
        auto reply = session.requestCredentials();
        ASSERT_TRUE(reply && !reply->isError());
        EXPECT_EQ(*reply->value, (nlohmann::json { { "username", "demo" }, { "password", "" } }));
        EXPECT_TRUE(session.session().isPasswordWithheld());
        EXPECT_TRUE(log.contains("[Workday] withholding the saved password: it was submitted moments ago, in this sign-in"));

        session.loop.advance(Seconds(0.1));
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
    }

    TEST_F(SignInAutomationTest, passwordHandedOutAtMostTwiceIn24HoursWithoutConfirmationAcrossRestarts)
    {
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");

        // A restart moments later does not reopen the 120-second window.
        session.loop.advance(10s);
        session.restart();
        session.saveCredentials("demo", "ashgrove-demo");
        EXPECT_EQ(session.handedOutPassword(), "");
        EXPECT_TRUE(log.contains("[Workday] withholding the saved password: it was submitted moments ago, in this sign-in"));

        session.loop.advance(110s);
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");

        session.loop.advance(3600s);
        session.restart();
        EXPECT_EQ(session.handedOutPassword(), "");
        EXPECT_TRUE(log.contains("[Workday] withholding the saved password: 2 sign-ins in the last 24 hours didn't complete"));

        // 24 hours after the first hand-out only the second one still counts.
        session.loop.advance(Seconds(86400 - 3600 - 120 - 0.1));
        EXPECT_EQ(session.handedOutPassword(), "");
        session.loop.advance(Seconds(0.1));
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        EXPECT_EQ(session.session().signIn().unconfirmedAutoSubmits().size(), 3u);
    }

    TEST_F(SignInAutomationTest, formErrorMarksPasswordRejectedOnceAndWithholdsItAcrossRestartsUntilSignInConfirmed)
    {
        auto reply = session.requestCredentials(true);
        ASSERT_TRUE(reply && !reply->isError());
        EXPECT_EQ((*reply->value)["password"], "");
        EXPECT_EQ((*reply->value)["username"], "demo");
        session.requestCredentials(true);
        EXPECT_EQ(log.count("[Workday] CAS rejected the password (error shown on the form); not auto-submitting it again"), 1);
        EXPECT_TRUE(log.contains("[Workday] withholding the saved password: CAS rejected the saved password"));

        session.loop.advance(48h);
        session.restart();
        EXPECT_EQ(session.handedOutPassword(), "");

        session.commit("https://wd5.myworkday.test/ashgrove/d/home.htmld");
        EXPECT_EQ(session.settings.boolean("ssoPasswordRejected"), false);
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
    }

    TEST_F(SignInAutomationTest, unauthorizedAnswerRejectsPasswordOnlyFromSSOHostMainFrameOverHTTPS)
    {
        auto respond = [&](const std::string& address, bool isForMainFrame) {
            NavigationResponse response;
            response.httpStatus = 401;
            response.url = url(address);
            response.isForMainFrame = isForMainFrame;
            return session.view().decideResponse(response);
        };

        EXPECT_EQ(respond("https://wd5.myworkday.test/cas/login", true), NavigationResponsePolicy::allow);
        EXPECT_EQ(respond("https://login.ashgrove.test/cas/login", false), NavigationResponsePolicy::allow);
        respond("https://login.ashgrove.test:8443/cas/login", true);
        respond("http://login.ashgrove.test/cas/login", true);
        EXPECT_FALSE(session.session().signIn().isPasswordRejected());

        EXPECT_EQ(respond("https://login.ashgrove.test:443/cas/login", true), NavigationResponsePolicy::allow);
        EXPECT_TRUE(session.session().signIn().isPasswordRejected());
        EXPECT_TRUE(log.contains("[Workday] CAS rejected the password (HTTP 401); not auto-submitting it again"));
        EXPECT_EQ(session.handedOutPassword(), "");
    }

    TEST_F(SignInAutomationTest, onlyASignedInTenantPageOrDuoConfirmsTheSignIn)
    {
        const std::vector<std::pair<std::string, bool>> pages {
            { "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld", false },
            { "http://wd5.myworkday.test/ashgrove/d/home.htmld", false },
            { "https://login.ashgrove.test/cas/login", false },
            { "https://wd5.myworkday.test/ashgrove/d/inbox.htmld", true },
            { "https://api-d3m0.duosecurity.test/frame/prompt", true },
        };
        for (auto& [page, confirms] : pages) {
            session.settings.removeValue("ssoUnconfirmedAutoSubmits");
            EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo") << page;
            session.loop.advance(120s);
            session.requestCredentials(true);
            session.commit(page);
            EXPECT_EQ(session.session().signIn().unconfirmedAutoSubmits().empty(), confirms) << page;
            EXPECT_EQ(session.session().signIn().isPasswordRejected(), !confirms) << page;
            session.session().signIn().confirmSignIn(url("https://wd5.myworkday.test/ashgrove/d/home.htmld"));
        }
    }

    TEST_F(SignInAutomationTest, typedCredentialsAreSavedAndLiftTheRejectionButNotTheUnconfirmedList)
    {
        session.lockController.openForSignIn = true;
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        session.session().signIn().markPasswordRejected("HTTP 401");

        auto reply = send({ { "action", "saveCredentials" }, { "username", "demo2" }, { "password", "typed" } });

        EXPECT_EQ(reply.value, nlohmann::json(true));
        EXPECT_EQ(session.run(session.keychainStore->load()), (Credentials { "demo2", "typed" }));
        EXPECT_EQ(session.keychain.writeCount(), 2) << "one write for the setup, one for the typed pair";
        EXPECT_FALSE(session.session().signIn().isPasswordRejected());
        EXPECT_EQ(session.session().signIn().unconfirmedAutoSubmits().size(), 1u);
        EXPECT_EQ(session.lockController.endSignInOpeningCount, 1);
        EXPECT_FALSE(session.session().isPasswordWithheld());
    }

    TEST_F(SignInAutomationTest, saveWithAnEmptyOrMissingFieldSavesNothingAndStillAnswersTrue)
    {
        session.session().signIn().markPasswordRejected("HTTP 401");
        EXPECT_EQ(send({ { "action", "saveCredentials" }, { "username", "other" }, { "password", "" } }).value, nlohmann::json(true));
        EXPECT_EQ(send({ { "action", "saveCredentials" }, { "username", "other" }, { "password", 42 } }).value, nlohmann::json(true));
        EXPECT_EQ(session.run(session.keychainStore->load()), (Credentials { "demo", "ashgrove-demo" }));
        EXPECT_TRUE(session.session().signIn().isPasswordRejected());
    }

    TEST_F(SignInAutomationTest, credentialRequestsFromAnywhereButTheSSOHostOverHTTPSAreDenied)
    {
        const std::vector<SecurityOrigin> untrusted {
            { "http", "login.ashgrove.test", 0 },
            { "https", "login.ashgrove.test", 8443 },
            { "https", "wd5.myworkday.test", 0 },
            { "https", "LOGIN.ashgrove.test", 0 },
            { "https", "login.ashgrove.test.evil.test", 443 },
            { "about", "", 0 },
            { "https", "", 0 },
        };
        for (auto& origin : untrusted) {
            auto reply = send(getCredentials(), origin);
            EXPECT_EQ(reply.errorMessage, "Credential request denied") << origin.protocol << "://" << origin.host << ":" << origin.port;
        }
        // What the body says about its origin does not count.
        auto forged = getCredentials();
        forged["origin"] = "https://login.ashgrove.test";
        forged["host"] = "login.ashgrove.test";
        EXPECT_TRUE(send(forged, { "https", "evil.test", 0 }).isError());

        EXPECT_EQ(send(getCredentials(), { "https", "login.ashgrove.test", 443 }).value.value()["password"], "ashgrove-demo");
        EXPECT_EQ(session.session().signIn().unconfirmedAutoSubmits().size(), 1u);
    }

    TEST_F(SignInAutomationTest, malformedMessagesAndOtherViewsAreDeniedAndUnknownActionsRejected)
    {
        EXPECT_EQ(send(getCredentials(), SessionHarness::ssoOrigin(), "otherChannel").errorMessage, "Credential request denied");
        EXPECT_EQ(send(nlohmann::json::array({ "getCredentials" })).errorMessage, "Credential request denied");
        EXPECT_EQ(send("getCredentials").errorMessage, "Credential request denied");
        EXPECT_EQ(send({ { "action", 1 } }).errorMessage, "Credential request denied");
        EXPECT_EQ(send({ { "showsError", false } }).errorMessage, "Credential request denied");
        EXPECT_EQ(send({ { "action", "deleteCredentials" } }).errorMessage, "Unknown credential action");
        auto other = std::static_pointer_cast<FakeWebView>(session.session().makeWebView(800, 900));
        EXPECT_EQ(other->sendScriptMessage("workdayAuth", getCredentials(), SessionHarness::ssoOrigin())->errorMessage, "Credential request denied");
        EXPECT_TRUE(session.session().signIn().unconfirmedAutoSubmits().empty());
    }

    TEST_F(SignInAutomationTest, requestsAnsweredTogetherByALockedKeyringHandThePasswordOutOnce)
    {
        session.restart();
        session.keychain.isHoldingAnswers = true;
        auto first = session.view().sendScriptMessage("workdayAuth", getCredentials(), SessionHarness::ssoOrigin());
        auto second = session.view().sendScriptMessage("workdayAuth", getCredentials(), SessionHarness::ssoOrigin());
        EXPECT_FALSE(first || second) << "the answers wait for the keyring";

        std::vector<std::string> passwords;
        session.view().onScriptReply = [&](const ScriptReply& reply) { passwords.push_back((*reply.value)["password"]); };
        session.keychain.answerHeld();
        EXPECT_EQ(passwords, (std::vector<std::string> { "ashgrove-demo", "" }));
        EXPECT_EQ(session.session().signIn().unconfirmedAutoSubmits().size(), 1u);
    }

    TEST_F(SignInAutomationTest, aSessionEndedWhileTheKeyringIsLockedNeverAnswers)
    {
        // Run under AddressSanitizer: a late answer would reach the destroyed coordinator.
        session.restart();
        session.keychain.isHoldingAnswers = true;
        session.requestCredentials();
        session.coordinator.reset();
        session.keychain.answerHeld();
        session.loop.advance(1s);
        EXPECT_TRUE(session.settings.array("ssoUnconfirmedAutoSubmits").value_or(nlohmann::json::array_t {}).empty());
    }

    TEST_F(SignInAutomationTest, withoutSavedCredentialsTheReplyIsEmpty)
    {
        session.run(session.keychainStore->deleteCredentials());
        auto reply = session.requestCredentials();
        ASSERT_TRUE(reply && !reply->isError());
        EXPECT_EQ(*reply->value, (nlohmann::json { { "username", "" }, { "password", "" } }));
        EXPECT_TRUE(session.session().signIn().unconfirmedAutoSubmits().empty());
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
        EXPECT_EQ(session.poller.lastState(), PollState::notSignedIn());
    }

    TEST_F(SignInAutomationTest, storedSubmitListOfTheWrongShapeReadsAsEmpty)
    {
        double now = secondsSince1970(session.loop.wallNow());
        session.settings.setValue("ssoUnconfirmedAutoSubmits", nlohmann::json::array({ now - 10, now - 20, "x" }));
        EXPECT_TRUE(session.session().signIn().unconfirmedAutoSubmits().empty());
        EXPECT_EQ(session.handedOutPassword(), "ashgrove-demo");
        EXPECT_EQ(session.session().signIn().unconfirmedAutoSubmits().size(), 1u);

        session.settings.setValue("ssoUnconfirmedAutoSubmits", "1800000000");
        EXPECT_TRUE(session.session().signIn().unconfirmedAutoSubmits().empty());
    }

    TEST_F(SignInAutomationTest, rememberDevicePromptIsAnsweredAtMostOncePerMinute)
    {
        const std::string prompt = "https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login?pending=trust";
        session.commit(prompt);
        ASSERT_EQ(session.view().pendingScripts().size(), 1u);
        EXPECT_TRUE(session.view().pendingScripts().front().arguments.has_value());
        session.view().answerScript(ScriptReply::success("answered"));
        EXPECT_TRUE(log.contains("[Workday] remember-device prompt: answered"));

        session.loop.advance(Seconds(59.9));
        session.commit(prompt + "&again=1");
        EXPECT_TRUE(session.view().pendingScripts().empty());

        session.loop.advance(Seconds(0.1));
        session.commit(prompt);
        EXPECT_EQ(session.view().pendingScripts().size(), 1u);
    }

    TEST_F(SignInAutomationTest, rememberDevicePageWithoutThePromptDoesNotStartTheMinute)
    {
        session.commit("https://wd5.myworkday.test/wday/authgwy/ashgrove/login.htmld");
        session.view().answerScript(ScriptReply::success("no prompt"));
        EXPECT_TRUE(log.contains("[Workday] remember-device prompt: no prompt"));
        session.commit("https://wd5.myworkday.test/wday/authgwy/ashgrove/login.htmld?x=1");
        EXPECT_EQ(session.view().pendingScripts().size(), 1u);
        session.view().answerScript(ScriptReply::failure("page went away"));
        session.commit("https://wd5.myworkday.test/wday/authgwy/ashgrove/login.htmld");
        EXPECT_EQ(session.view().pendingScripts().size(), 1u);
    }

}
}

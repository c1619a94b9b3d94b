#include "EngineSession.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

class SignInTest : public EngineSessionTest { };

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

TEST_F(SignInTest, endedSessionIsSignedBackInOnceWithin180Seconds)
{
    auto run = startSignedIn();
    auto submissionsAfterSignIn = passwordSubmissions();

    // Past the two minutes in which the same sign-in never gets the password twice.
    run->runLoop.shiftClock(121s);
    s_tenant->control("POST", "/expire-sessions");
    run->coordinator.loadHome();
    ASSERT_TRUE(runMainLoopUntil([&] { return passwordSubmissions() == submissionsAfterSignIn + 1; }, 20s));
    // The recovery ends once the home page has committed.
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage() && !run->coordinator.webView()->isLoading() && !run->coordinator.recovery().isRecoveryInProgress(); }, 30s));

    // A second end within three minutes of that recovery is left for the user: the page that
    // says so finishes loading (the recovery would have begun at its commit) and stays.
    auto recovery = run->coordinator.recovery().lastRecoveryAttempt();
    run->runLoop.shiftClock(121s);
    s_tenant->control("POST", "/expire-sessions");
    run->coordinator.loadHome();
    ASSERT_TRUE(runMainLoopUntil([&] { return s_configuration->endpoints.isSessionEndedURL(run->url()) && !run->coordinator.webView()->isLoading(); }, 20s))
        << run->urlText();
    EXPECT_EQ(run->coordinator.recovery().lastRecoveryAttempt(), recovery);
    EXPECT_FALSE(run->coordinator.recovery().isRecoveryInProgress());
    EXPECT_EQ(passwordSubmissions(), submissionsAfterSignIn + 1);
}

int main(int argc, char** argv)
{
    return runEngineTests(argc, argv);
}

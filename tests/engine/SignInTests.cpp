#include "EngineSession.h"

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

int main(int argc, char** argv)
{
    return runEngineTests(argc, argv);
}

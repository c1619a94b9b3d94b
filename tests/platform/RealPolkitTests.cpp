#include "ServiceTestSupport.h"
#include "platform/glib/GLibRunLoop.h"
#include "platform/auth/PolkitAuthenticator.h"
#include "support/FakeLockCollaborators.h"

#include <gtest/gtest.h>

using namespace halcyra;

namespace {

// Against the real polkitd of run-with-polkitd, as a user other than root (root is always
// authorized) in a session without an authentication agent: wherever polkit cannot ask, the
// application's own password dialog must.
TEST(RealPolkit, wherePolkitCannotAskThePasswordDialogAsks)
{
    ASSERT_NE(getuid(), 0u) << "run as an ordinary user";
    struct Row {
        const char* situation;
        std::string actionID;
    };
    const Row rows[] = {
        { "the unlock action is not installed", PolkitAuthenticator::actionID },
        { "an installed action, but no agent in the session", "org.freedesktop.hostname1.set-hostname" },
    };
    GLibRunLoop loop;
    for (auto& row : rows) {
        SCOPED_TRACE(row.situation);
        FakeAuthenticator passwordDialog { loop };
        PolkitAuthenticator polkit(passwordDialog, row.actionID);
        std::optional<bool> result;
        auto prompt = polkit.evaluate({ "Unlock Workday", "Use Password" }, [&](bool succeeded) { result = succeeded; });
        ASSERT_TRUE(runMainLoopUntil([&] { return passwordDialog.prompts.size() == 1; }));
        passwordDialog.answer(true);
        ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
        EXPECT_TRUE(*result);
    }
}

}

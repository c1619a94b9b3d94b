#include "../ServiceTestSupport.h"
#include "platform/auth/PamAuthenticator.h"

#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

using namespace halcyra;

namespace {

constexpr const char* accountPassword = "correct horse";

// The application's password dialog, answered by the test; a dialog closes with its handle.
struct FakePasswordPrompt final : PasswordPrompt {
    struct Dialog {
        std::string reason;
        std::function<void(std::optional<std::string>)> entered;
        bool isOpen { true };
    };
    struct DialogHandle final : Handle {
        std::shared_ptr<Dialog> dialog;
        ~DialogHandle() override { dialog->isOpen = false; }
    };

    std::unique_ptr<Handle> ask(const std::string& reason, std::function<void(std::optional<std::string>)> entered) override
    {
        dialogs.push_back(std::make_shared<Dialog>(Dialog { reason, std::move(entered) }));
        auto handle = std::make_unique<DialogHandle>();
        handle->dialog = dialogs.back();
        return handle;
    }
    std::vector<std::shared_ptr<Dialog>> dialogs;
};

// Runs under pam_wrapper: the PAM stack is pam_matrix over a password file written here, for
// the user running the test.
class PamAuthenticatorTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_STREQ(g_getenv("PAM_WRAPPER"), "1") << "run this test through ctest, under pam_wrapper";
        static std::string passwordFile = std::string(g_get_tmp_dir()) + "/halcyra-pam-test-" + std::to_string(getpid());
        std::ofstream(passwordFile) << getpwuid(getuid())->pw_name << ":" << accountPassword << ":halcyra\n";
        g_setenv("PAM_MATRIX_PASSWD", passwordFile.c_str(), TRUE);
    }
    static void TearDownTestSuite() { unlink(g_getenv("PAM_MATRIX_PASSWD")); }
};

// A prompt withdrawn (the window locked again) closes its dialog, or fails the check under way.
TEST_F(PamAuthenticatorTest, theAccountPasswordUnlocksAndNothingElseDoesNorAWithdrawnPrompt)
{
    enum class Withdrawn { no,
        whileTheDialogIsOpen,
        whileThePasswordIsChecked };
    struct Row {
        std::optional<std::string> entered;
        Withdrawn withdrawn;
        bool succeeds;
    };
    const Row rows[] = {
        { accountPassword, Withdrawn::no, true },
        { "correct hors", Withdrawn::no, false },
        { "Correct horse", Withdrawn::no, false },
        { "", Withdrawn::no, false },
        { std::nullopt, Withdrawn::no, false },
        { std::nullopt, Withdrawn::whileTheDialogIsOpen, false },
        { accountPassword, Withdrawn::whileThePasswordIsChecked, false },
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.entered.value_or("(cancelled)") + ", withdrawn: " + std::to_string(static_cast<int>(row.withdrawn)));
        FakePasswordPrompt dialog;
        PamAuthenticator authenticator(dialog);
        std::optional<bool> result;
        auto prompt = authenticator.evaluate({ "Unlock Workday", "Use Password" }, [&](bool succeeded) { result = succeeded; });
        ASSERT_EQ(dialog.dialogs.size(), 1u);
        EXPECT_EQ(dialog.dialogs[0]->reason, "Unlock Workday");
        if (row.withdrawn != Withdrawn::whileTheDialogIsOpen)
            dialog.dialogs[0]->entered(row.entered);
        if (row.withdrawn != Withdrawn::no) {
            prompt->invalidate();
            EXPECT_FALSE(dialog.dialogs[0]->isOpen);
        }
        ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }, std::chrono::seconds(10)));
        EXPECT_EQ(*result, row.succeeds);
    }
}

}

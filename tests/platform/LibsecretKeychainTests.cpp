#include "ServiceTestSupport.h"
#include "platform/LibsecretKeychain.h"

#include <gtest/gtest.h>

using namespace halcyra;

namespace {

const KeychainItemID credentialsItem { "com.ashgrove.workday.sso", "ashgrove-ss" };
const KeychainItemID legacyUsernameItem { "com.ashgrove.workday.sso.username", "ashgrove-ss" };
const KeychainItemAttributes savedAttributes { "Workday SSO credentials" };

// Against the gnome-keyring-daemon that run-with-services starts in a private session bus.
class LibsecretKeychainTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto& item : { credentialsItem, legacyUsernameItem }) {
            auto status = keychain.remove(item);
            ASSERT_TRUE(status == keychainSuccess || status == keychainItemNotFound) << keychain.messageForStatus(status);
        }
    }

    static CommandResult secretTool(const std::vector<std::string>& arguments, const std::string& input = {})
    {
        std::vector<std::string> argv { "secret-tool" };
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return runCommand(argv, input);
    }

    static size_t countOf(const std::string& text, const std::string& needle)
    {
        size_t count = 0;
        for (auto position = text.find(needle); position != std::string::npos; position = text.find(needle, position + 1))
            ++count;
        return count;
    }

    LibsecretKeychain keychain;
};

TEST_F(LibsecretKeychainTests, addedCredentialsReadBackAndAreVisibleToDesktopTools)
{
    std::string json = R"({"username":"jdoe","password":"pässwörd 🔑"})";
    ASSERT_EQ(keychain.add(credentialsItem, json, savedAttributes), keychainSuccess);

    auto result = keychain.read(credentialsItem);
    EXPECT_EQ(result.status, keychainSuccess);
    EXPECT_EQ(result.data, json);

    auto lookup = secretTool({ "lookup", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" });
    EXPECT_EQ(lookup.exitStatus, 0);
    EXPECT_EQ(lookup.output, json);

    // The label is what a keyring manager (Seahorse, KWalletManager) lists the item under.
    auto search = secretTool({ "search", "--all", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" });
    EXPECT_NE(search.output.find("label = Workday SSO credentials"), std::string::npos) << search.output;
}

TEST_F(LibsecretKeychainTests, updateReplacesTheDataOfTheOneExistingItem)
{
    ASSERT_EQ(keychain.add(credentialsItem, R"({"username":"jdoe","password":"old"})", savedAttributes), keychainSuccess);

    std::string updated = R"({"username":"jdoe","password":"new"})";
    EXPECT_EQ(keychain.update(credentialsItem, updated, savedAttributes), keychainSuccess);

    EXPECT_EQ(keychain.read(credentialsItem).data, updated);
    auto search = secretTool({ "search", "--all", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" });
    EXPECT_EQ(countOf(search.output, "label = "), 1u) << search.output;
}

TEST_F(LibsecretKeychainTests, updateWithoutAnItemReportsNotFoundAndCreatesNothing)
{
    EXPECT_EQ(keychain.update(credentialsItem, "{}", savedAttributes), keychainItemNotFound);
    EXPECT_EQ(keychain.read(credentialsItem).status, keychainItemNotFound);
    EXPECT_FALSE(keychain.read(credentialsItem).data);
}

TEST_F(LibsecretKeychainTests, removeDeletesTheItemAndAMissingItemReportsNotFound)
{
    ASSERT_EQ(keychain.add(credentialsItem, "{}", savedAttributes), keychainSuccess);

    EXPECT_EQ(keychain.remove(credentialsItem), keychainSuccess);
    EXPECT_EQ(keychain.read(credentialsItem).status, keychainItemNotFound);
    EXPECT_EQ(secretTool({ "lookup", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" }).output, "");
    EXPECT_EQ(keychain.remove(credentialsItem), keychainItemNotFound);
}

TEST_F(LibsecretKeychainTests, removingTheLegacyUsernameItemLeavesTheCredentialsAlone)
{
    ASSERT_EQ(keychain.add(credentialsItem, R"({"username":"jdoe","password":"secret"})", savedAttributes), keychainSuccess);
    ASSERT_EQ(keychain.add(legacyUsernameItem, "jdoe", { "Workday SSO username" }), keychainSuccess);

    EXPECT_EQ(keychain.remove(legacyUsernameItem), keychainSuccess);

    EXPECT_EQ(keychain.read(legacyUsernameItem).status, keychainItemNotFound);
    EXPECT_EQ(keychain.read(credentialsItem).data, R"({"username":"jdoe","password":"secret"})");
}

TEST_F(LibsecretKeychainTests, aPasswordStoredWithSecretToolIsReadAndUpdatedInPlace)
{
    auto store = secretTool({ "store", "--label=Workday SSO credentials", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" }, "plain old password");
    ASSERT_EQ(store.exitStatus, 0) << store.output;

    EXPECT_EQ(keychain.read(credentialsItem).data, "plain old password");
    EXPECT_EQ(keychain.update(credentialsItem, R"({"username":"jdoe","password":"p"})", savedAttributes), keychainSuccess);
    EXPECT_EQ(secretTool({ "lookup", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" }).output, R"({"username":"jdoe","password":"p"})");
}

TEST_F(LibsecretKeychainTests, anIdentityThatIsNotTextIsRefusedWithAReason)
{
    KeychainItemID broken { "com.ashgrove.workday.sso\xff", "ashgrove-ss" };

    auto status = keychain.add(broken, "{}", savedAttributes);
    EXPECT_EQ(status, keychainBadParameter);
    EXPECT_NE(keychain.messageForStatus(status), "");
    EXPECT_EQ(keychain.read(broken).status, keychainBadParameter);
    EXPECT_EQ(keychain.read(credentialsItem).status, keychainItemNotFound);
}

}

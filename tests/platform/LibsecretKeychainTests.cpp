#include "ServiceTestSupport.h"
#include "platform/secrets/LibsecretKeychain.h"
#include "support/MainLoopTask.h"

#include <gtest/gtest.h>

using namespace halcyra;

namespace {

const KeychainItemID credentialsItem { "com.ashgrove.workday.sso", "ashgrove-ss" };
const KeychainItemID legacyUsernameItem { "com.ashgrove.workday.sso.username", "ashgrove-ss" };
const KeychainItemAttributes savedAttributes { "Workday SSO credentials" };
constexpr const char* loginCollection = "/org/freedesktop/secrets/collection/login";

GRefPtr<GVariant> callSecretService(const char* interface, const char* method, GVariant* arguments)
{
    return callBus(G_BUS_TYPE_SESSION, "org.freedesktop.secrets", "/org/freedesktop/secrets", interface, method, arguments);
}

// What desktop tools see: secret-tool run on the credentials item.
std::string secretTool(std::vector<std::string> arguments, const std::string& input = {})
{
    arguments.insert(arguments.begin(), "secret-tool");
    arguments.insert(arguments.end(), { "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" });
    auto result = runCommand(arguments, input);
    EXPECT_EQ(result.exitStatus, 0) << arguments[1];
    return result.output;
}

// Against the gnome-keyring-daemon that run-with-services starts in a private session bus.
class LibsecretKeychainTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto& item : { credentialsItem, legacyUsernameItem }) {
            auto status = remove(item);
            ASSERT_TRUE(status == keychainSuccess || status == keychainItemNotFound) << keychain.messageForStatus(status);
        }
    }

    KeychainReadResult read(const KeychainItemID& item) { return runOnMainLoop(keychain.read(item)); }
    KeychainStatus update(const KeychainItemID& item, const std::string& data) { return runOnMainLoop(keychain.update(item, data, savedAttributes)); }
    KeychainStatus add(const KeychainItemID& item, const std::string& data, const KeychainItemAttributes& attributes = savedAttributes) { return runOnMainLoop(keychain.add(item, data, attributes)); }
    KeychainStatus remove(const KeychainItemID& item) { return runOnMainLoop(keychain.remove(item)); }

    LibsecretKeychain keychain;
};

// The items are those desktop tools show, under the label a keyring manager (Seahorse) lists;
// an update rewrites an item in place and creates none; removing one item leaves the other.
TEST_F(LibsecretKeychainTests, itemsAreTheDesktopsOwnAndUpdateRewritesInPlaceWithoutCreating)
{
    std::string json = R"({"username":"jdoe","password":"pässwörd 🔑"})";
    EXPECT_EQ(update(credentialsItem, json), keychainItemNotFound);
    EXPECT_EQ(read(credentialsItem).status, keychainItemNotFound);
    ASSERT_EQ(add(credentialsItem, json), keychainSuccess);
    ASSERT_EQ(add(legacyUsernameItem, "jdoe", { "Workday SSO username" }), keychainSuccess);
    EXPECT_EQ(read(credentialsItem).data, json);
    EXPECT_EQ(secretTool({ "lookup" }), json);
    EXPECT_NE(secretTool({ "search", "--all" }).find("label = Workday SSO credentials"), std::string::npos);

    EXPECT_EQ(remove(legacyUsernameItem), keychainSuccess);
    EXPECT_EQ(read(legacyUsernameItem).status, keychainItemNotFound);
    EXPECT_EQ(remove(legacyUsernameItem), keychainItemNotFound);
    EXPECT_EQ(read(credentialsItem).data, json);

    // An item another program stored, under the schema desktop tools use.
    ASSERT_EQ(remove(credentialsItem), keychainSuccess);
    secretTool({ "store", "--label=Workday SSO credentials" }, "plain old password");
    EXPECT_EQ(read(credentialsItem).data, "plain old password");
    std::string updated = R"({"username":"jdoe","password":"new"})";
    EXPECT_EQ(update(credentialsItem, updated), keychainSuccess);
    EXPECT_EQ(secretTool({ "lookup" }), updated);
    auto search = secretTool({ "search", "--all" });
    EXPECT_EQ(search.find("label = "), search.rfind("label = ")) << "more than one item:\n"
                                                                 << search;

    KeychainItemID notText { "com.ashgrove.workday.sso\xff", "ashgrove-ss" };
    auto status = add(notText, "{}");
    EXPECT_EQ(status, keychainBadParameter);
    EXPECT_NE(keychain.messageForStatus(status), "");
    EXPECT_EQ(read(notText).status, keychainBadParameter);
}

// Stands in for the desktop's prompter, which gnome-keyring asks to show an unlock dialog: it
// holds the request until the test refuses it, as a user closing the dialog.
struct HeldPrompter {
    ~HeldPrompter() { refuseAll(); }
    void refuseAll()
    {
        for (auto* invocation : std::exchange(held, {}))
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed", "The user closed the prompt");
    }

    std::vector<GDBusMethodInvocation*> held;
    SessionBusService service { "org.gnome.keyring.SystemPrompter", "/org/gnome/keyring/Prompter",
        "<interface name='org.gnome.keyring.internal.Prompter'><method name='BeginPrompting'><arg type='o' direction='in'/></method>"
        "<method name='StopPrompting'><arg type='o' direction='in'/></method></interface>",
        [this](const char*, GDBusMethodInvocation* invocation) { held.push_back(invocation); } };
};

TEST_F(LibsecretKeychainTests, aLockedKeyringWaitsForItsPromptWhileTheLoopRunsOnAndARefusalKeepsTheItem)
{
    ASSERT_EQ(add(credentialsItem, R"({"username":"jdoe","password":"secret"})"), keychainSuccess);
    HeldPrompter prompter;
    callSecretService("org.freedesktop.Secret.Service", "Lock", g_variant_new("(@ao)", g_variant_new_objv(&loginCollection, 1)));

    GLibRunLoop loop;
    std::optional<KeychainReadResult> result;
    auto reading = spawn(loop, [](LibsecretKeychain& keychain, std::optional<KeychainReadResult>& result) -> Task<void> {
        result = co_await keychain.read(credentialsItem);
    }(keychain, result));
    bool hasTicked = false;
    loop.schedule(Seconds(0.05), [&] { hasTicked = true; });

    // The prompt request is served by this very loop: a read that held the loop would never see it.
    ASSERT_TRUE(runMainLoopUntil([&] { return !prompter.held.empty() && hasTicked; }));
    EXPECT_FALSE(result);

    prompter.refuseAll();
    ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->status, keychainInteractionNotAllowed) << keychain.messageForStatus(result->status);

    // Removing asks for the unlock too; refused, it says that the item stayed, and it did.
    std::optional<KeychainStatus> removal;
    auto removing = spawn(loop, [](LibsecretKeychain& keychain, std::optional<KeychainStatus>& removal) -> Task<void> {
        removal = co_await keychain.remove(credentialsItem);
    }(keychain, removal));
    ASSERT_TRUE(runMainLoopUntil([&] { return !prompter.held.empty(); }));
    prompter.refuseAll();
    ASSERT_TRUE(runMainLoopUntil([&] { return removal.has_value(); }));
    EXPECT_EQ(*removal, keychainInteractionNotAllowed) << keychain.messageForStatus(*removal);

    auto session = callSecretService("org.freedesktop.Secret.Service", "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")));
    ASSERT_TRUE(session);
    const char* sessionPath = nullptr;
    g_variant_get(session.get(), "(v&o)", nullptr, &sessionPath);
    const char password[] = "halcyra-test";
    auto* secret = g_variant_new("(o@ay@ays)", sessionPath, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password, sizeof(password) - 1, 1), "text/plain");
    callSecretService("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword", g_variant_new("(o@(oayays))", loginCollection, secret));
    EXPECT_EQ(read(credentialsItem).status, keychainSuccess);
    EXPECT_EQ(remove(credentialsItem), keychainSuccess);
    EXPECT_EQ(read(credentialsItem).status, keychainItemNotFound);
}

}

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

    static CommandResult secretTool(const std::vector<std::string>& arguments, const std::string& input = {})
    {
        std::vector<std::string> argv { "secret-tool" };
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return runCommand(argv, input);
    }
    static size_t labelCount()
    {
        auto search = secretTool({ "search", "--all", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" }).output;
        size_t count = 0;
        for (auto position = search.find("label = "); position != std::string::npos; position = search.find("label = ", position + 1))
            ++count;
        return count;
    }

    LibsecretKeychain keychain;
};

TEST_F(LibsecretKeychainTests, addedCredentialsReadBackAreVisibleToDesktopToolsAndAreRemovedAlone)
{
    std::string json = R"({"username":"jdoe","password":"pässwörd 🔑"})";
    ASSERT_EQ(add(credentialsItem, json), keychainSuccess);
    ASSERT_EQ(add(legacyUsernameItem, "jdoe", { "Workday SSO username" }), keychainSuccess);

    auto result = read(credentialsItem);
    EXPECT_EQ(result.status, keychainSuccess);
    EXPECT_EQ(result.data, json);

    auto lookup = secretTool({ "lookup", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" });
    EXPECT_EQ(lookup.exitStatus, 0);
    EXPECT_EQ(lookup.output, json);
    // The label is what a keyring manager (Seahorse, KWalletManager) lists the item under.
    auto search = secretTool({ "search", "--all", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" });
    EXPECT_NE(search.output.find("label = Workday SSO credentials"), std::string::npos) << search.output;

    EXPECT_EQ(remove(legacyUsernameItem), keychainSuccess);
    EXPECT_EQ(read(legacyUsernameItem).status, keychainItemNotFound);
    EXPECT_EQ(read(credentialsItem).data, json);
    EXPECT_EQ(remove(legacyUsernameItem), keychainItemNotFound);
}

TEST_F(LibsecretKeychainTests, updateRewritesAnExistingItemInPlaceAndCreatesNone)
{
    EXPECT_EQ(update(credentialsItem, "{}"), keychainItemNotFound);
    EXPECT_EQ(read(credentialsItem).status, keychainItemNotFound);

    // An item another program stored, under the schema desktop tools use.
    auto store = secretTool({ "store", "--label=Workday SSO credentials", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" }, "plain old password");
    ASSERT_EQ(store.exitStatus, 0) << store.output;
    EXPECT_EQ(read(credentialsItem).data, "plain old password");

    std::string updated = R"({"username":"jdoe","password":"new"})";
    EXPECT_EQ(update(credentialsItem, updated), keychainSuccess);
    EXPECT_EQ(secretTool({ "lookup", "service", "com.ashgrove.workday.sso", "account", "ashgrove-ss" }).output, updated);
    EXPECT_EQ(labelCount(), 1u);
}

TEST_F(LibsecretKeychainTests, anIdentityThatIsNotTextIsRefusedWithAReason)
{
    KeychainItemID broken { "com.ashgrove.workday.sso\xff", "ashgrove-ss" };

    auto status = add(broken, "{}");
    EXPECT_EQ(status, keychainBadParameter);
    EXPECT_NE(keychain.messageForStatus(status), "");
    EXPECT_EQ(read(broken).status, keychainBadParameter);
}

// Stands in for the desktop's prompter, which gnome-keyring asks to show an unlock dialog: it
// notes the request and answers only when told.
class HeldPrompter {
public:
    HeldPrompter()
    {
        static const char* introspection = "<node><interface name='org.gnome.keyring.internal.Prompter'>"
                                           "<method name='BeginPrompting'><arg type='o' direction='in'/></method>"
                                           "<method name='StopPrompting'><arg type='o' direction='in'/></method>"
                                           "</interface></node>";
        m_bus = adoptGRef(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
        GUniqueOutPtr<GError> error;
        m_node = g_dbus_node_info_new_for_xml(introspection, error.outPtr());
        static const GDBusInterfaceVTable vtable { [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, GDBusMethodInvocation* invocation, gpointer prompter) {
                                                      static_cast<HeldPrompter*>(prompter)->m_held.emplace_back(invocation);
                                                  },
            nullptr, nullptr, {} };
        m_registration = g_dbus_connection_register_object(m_bus.get(), "/org/gnome/keyring/Prompter", m_node->interfaces[0], &vtable, this, nullptr, error.outPtr());
        m_name = g_bus_own_name_on_connection(m_bus.get(), "org.gnome.keyring.SystemPrompter", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, nullptr, nullptr);
    }
    ~HeldPrompter()
    {
        refuseAll();
        g_bus_unown_name(m_name);
        g_dbus_connection_unregister_object(m_bus.get(), m_registration);
        g_dbus_node_info_unref(m_node);
    }

    size_t heldRequestCount() const { return m_held.size(); }
    void refuseAll()
    {
        for (auto* invocation : std::exchange(m_held, {}))
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed", "The user closed the prompt");
    }

    GDBusConnection* bus() const { return m_bus.get(); }

private:
    GRefPtr<GDBusConnection> m_bus;
    GDBusNodeInfo* m_node { nullptr };
    guint m_registration { 0 };
    guint m_name { 0 };
    std::vector<GDBusMethodInvocation*> m_held;
};

void callSecretService(GDBusConnection* bus, const char* interface, const char* method, GVariant* arguments)
{
    GUniqueOutPtr<GError> error;
    auto reply = adoptGRef(g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", interface, method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
    ASSERT_TRUE(reply) << method << ": " << error->message;
}

void unlockWithPassword(GDBusConnection* bus)
{
    GUniqueOutPtr<GError> error;
    auto session = adoptGRef(g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.outPtr()));
    ASSERT_TRUE(session) << error->message;
    const char* sessionPath = nullptr;
    g_variant_get(session.get(), "(v&o)", nullptr, &sessionPath);
    const char password[] = "halcyra-test";
    auto* secret = g_variant_new("(o@ay@ays)", sessionPath, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password, sizeof(password) - 1, 1), "text/plain");
    callSecretService(bus, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword", g_variant_new("(o@(oayays))", loginCollection, secret));
}

TEST_F(LibsecretKeychainTests, aLockedKeyringWaitsForItsPromptWhileTheLoopRunsOn)
{
    ASSERT_EQ(add(credentialsItem, R"({"username":"jdoe","password":"secret"})"), keychainSuccess);
    HeldPrompter prompter;
    callSecretService(prompter.bus(), "org.freedesktop.Secret.Service", "Lock", g_variant_new("(@ao)", g_variant_new_objv(&loginCollection, 1)));

    GLibRunLoop loop;
    std::optional<KeychainReadResult> result;
    auto reading = spawn(loop, [](LibsecretKeychain& keychain, std::optional<KeychainReadResult>& result) -> Task<void> {
        result = co_await keychain.read(credentialsItem);
    }(keychain, result));
    bool hasTicked = false;
    loop.schedule(Seconds(0.05), [&] { hasTicked = true; });

    // The prompt request is served by this very loop: a read that held the loop would never see it.
    ASSERT_TRUE(runMainLoopUntil([&] { return prompter.heldRequestCount() > 0 && hasTicked; }, std::chrono::seconds(20)));
    EXPECT_FALSE(result);

    prompter.refuseAll();
    ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }, std::chrono::seconds(20)));
    EXPECT_EQ(result->status, keychainInteractionNotAllowed) << keychain.messageForStatus(result->status);
    unlockWithPassword(prompter.bus());
    EXPECT_EQ(read(credentialsItem).status, keychainSuccess);
}

}

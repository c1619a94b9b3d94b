#include "credentials/KeychainStore.h"

#include "base/SettingsStore.h"
#include "support/FakeKeychain.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace halcyra {
namespace {

    class KeychainStoreTest : public ::testing::Test {
    protected:
        std::string storedJSON() const
        {
            auto stored = keychain.item(KeychainStore::service, KeychainStore::account);
            return stored ? stored->data : std::string();
        }

        FakeKeychain keychain;
        MemorySettingsStore settings;
        KeychainStore store { keychain, settings };
    };

    TEST_F(KeychainStoreTest, saveOnEmptyKeychainAddsLabelledJSONItemAndLoadsFromMemoryAfterwards)
    {
        store.save("demo", "ashgrove-demo");

        auto item = keychain.item("com.ashgrove.workday.sso", "ashgrove-ss");
        ASSERT_TRUE(item);
        EXPECT_EQ(item->label, "Workday SSO credentials");
        EXPECT_EQ(nlohmann::json::parse(item->data), (nlohmann::json { { "username", "demo" }, { "password", "ashgrove-demo" } }));

        int readsBefore = keychain.readCount();
        EXPECT_EQ(store.load(), (Credentials { "demo", "ashgrove-demo" }));
        EXPECT_EQ(keychain.readCount(), readsBefore);
    }

    TEST_F(KeychainStoreTest, saveOverExistingItemReplacesItsData)
    {
        keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"old","password":"old-pass"})");
        store.save("demo", "new-pass");

        EXPECT_EQ(nlohmann::json::parse(storedJSON())["password"], "new-pass");
        KeychainStore afterRestart(keychain, settings);
        EXPECT_EQ(afterRestart.load(), (Credentials { "demo", "new-pass" }));
    }

    TEST_F(KeychainStoreTest, legacyPlainTextPasswordLoadsUnderTheAccountName)
    {
        keychain.setItem(KeychainStore::service, KeychainStore::account, "hunter2");
        EXPECT_EQ(store.load(), (Credentials { "ashgrove-ss", "hunter2" }));
    }

    TEST_F(KeychainStoreTest, itemThatIsNeitherJSONNorTextLoadsAsAbsentAndIsAskedAgain)
    {
        keychain.setItem(KeychainStore::service, KeychainStore::account, std::string("\xff\xfe\x00\x01", 4));
        EXPECT_FALSE(store.load());

        store.save("demo", "pass");
        EXPECT_EQ(store.load(), (Credentials { "demo", "pass" }));
    }

    TEST_F(KeychainStoreTest, missingItemIsLookedUpAgainOnTheNextLoad)
    {
        EXPECT_FALSE(store.load());
        keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"demo","password":"pass"})");
        EXPECT_EQ(store.load(), (Credentials { "demo", "pass" }));
    }

    TEST_F(KeychainStoreTest, refusedReadIsLoggedWithStatusTextAndLoadsNothing)
    {
        LogCapture log;
        keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"demo","password":"pass"})");
        keychain.failNext(FakeKeychain::Operation::read, -25293);

        EXPECT_FALSE(store.load());
        EXPECT_TRUE(log.contains("[Keychain] load credentials failed: -25293 Keychain error."));
        EXPECT_EQ(store.load(), (Credentials { "demo", "pass" }));
    }

    TEST_F(KeychainStoreTest, forgottenFlagBeatsAReadableItemAlsoAfterRestart)
    {
        keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"demo","password":"pass"})");
        settings.setBoolean("ssoCredentialsForgotten", true);

        EXPECT_FALSE(store.load());
        KeychainStore afterRestart(keychain, settings);
        EXPECT_FALSE(afterRestart.load());
    }

    TEST_F(KeychainStoreTest, deleteWithNothingStoredSucceedsAndASaveClearsTheFlag)
    {
        EXPECT_NO_THROW(store.deleteCredentials());
        EXPECT_EQ(settings.boolean("ssoCredentialsForgotten"), true);

        store.save("demo", "pass");
        EXPECT_EQ(settings.boolean("ssoCredentialsForgotten"), false);
        EXPECT_EQ(store.load(), (Credentials { "demo", "pass" }));
    }

    TEST_F(KeychainStoreTest, deleteRemovesBothItemsAndForgetsTheCache)
    {
        store.save("demo", "pass");
        keychain.setItem(KeychainStore::legacyUsernameService, KeychainStore::account, "demo");

        store.deleteCredentials();

        EXPECT_FALSE(keychain.item(KeychainStore::service, KeychainStore::account));
        EXPECT_FALSE(keychain.item(KeychainStore::legacyUsernameService, KeychainStore::account));
        EXPECT_FALSE(store.load());
    }

    TEST_F(KeychainStoreTest, refusedDeleteThrowsItsStatusAndAutofillStaysOffAfterRestart)
    {
        LogCapture log;
        store.save("demo", "pass");
        keychain.failNext(FakeKeychain::Operation::remove, -25308);

        try {
            store.deleteCredentials();
            FAIL() << "deleting should have thrown";
        } catch (const DeletionError& error) {
            EXPECT_EQ(error.credentialsStatus(), -25308);
            EXPECT_EQ(error.usernameStatus(), keychainItemNotFound);
        }
        EXPECT_TRUE(log.contains("[Keychain] delete credentials failed: -25308 Keychain error."));
        EXPECT_TRUE(keychain.item(KeychainStore::service, KeychainStore::account));
        EXPECT_FALSE(store.load());
        KeychainStore afterRestart(keychain, settings);
        EXPECT_FALSE(afterRestart.load());
    }

    TEST_F(KeychainStoreTest, refusedLegacyDeleteAlsoThrowsAndIsLogged)
    {
        LogCapture log;
        store.save("demo", "pass");
        keychain.setItem(KeychainStore::legacyUsernameService, KeychainStore::account, "demo");
        keychain.failAlways(FakeKeychain::Operation::remove, -25308);

        EXPECT_EQ(store.deleteLegacyUsername(), -25308);
        EXPECT_TRUE(log.contains("[Keychain] delete legacy username failed: -25308 Keychain error."));
        EXPECT_THROW(store.deleteCredentials(), DeletionError);
    }

    TEST_F(KeychainStoreTest, failedSaveKeepsThePreviousPairAndTheForgottenFlag)
    {
        LogCapture log;
        store.save("demo", "pass");
        keychain.failNext(FakeKeychain::Operation::update, -25299);

        store.save("other", "other-pass");

        EXPECT_TRUE(log.contains("[Keychain] save credentials failed: -25299 Keychain error."));
        EXPECT_EQ(store.load(), (Credentials { "demo", "pass" }));

        settings.setBoolean("ssoCredentialsForgotten", true);
        keychain.failNext(FakeKeychain::Operation::update, -25299);
        store.save("other", "other-pass");
        EXPECT_EQ(settings.boolean("ssoCredentialsForgotten"), true);
    }

    TEST_F(KeychainStoreTest, failedAddOnEmptyKeychainSavesNothing)
    {
        keychain.failNext(FakeKeychain::Operation::add, -34018);
        store.save("demo", "pass");
        EXPECT_FALSE(store.load());
    }

    TEST_F(KeychainStoreTest, setUsernameRewritesTheItemWhenAPasswordIsCached)
    {
        store.save("demo", "pass");
        store.setUsername("renamed");

        EXPECT_EQ(nlohmann::json::parse(storedJSON())["username"], "renamed");
        EXPECT_EQ(store.load(), (Credentials { "renamed", "pass" }));
    }

    TEST_F(KeychainStoreTest, setUsernameAfterDeleteDoesNothing)
    {
        store.save("demo", "pass");
        store.deleteCredentials();
        store.setUsername("someone");

        EXPECT_FALSE(keychain.item(KeychainStore::service, KeychainStore::account));
        EXPECT_FALSE(store.load());
    }

}
}

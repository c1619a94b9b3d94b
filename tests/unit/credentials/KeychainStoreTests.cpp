#include "credentials/KeychainStore.h"

#include "base/SettingsStore.h"
#include "support/FakeKeychain.h"
#include "support/LogCapture.h"
#include "support/RunTask.h"
#include "support/VirtualRunLoop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace halcyra {
namespace {

    class KeychainStoreTest : public ::testing::Test {
    protected:
        template <typename T>
        T run(Task<T> task)
        {
            return runTask(loop, std::move(task), [this] { loop.runUntilIdle(); });
        }
        std::optional<Credentials> load(KeychainStore& from) { return run(from.load()); }
        std::optional<Credentials> load() { return load(store); }
        void save(const std::string& username, const std::string& password) { run(store.save(username, password)); }
        void setItem(std::string data) { keychain.setItem(KeychainStore::service, KeychainStore::account, std::move(data)); }
        nlohmann::json storedJSON() const { return nlohmann::json::parse(keychain.item(KeychainStore::service, KeychainStore::account)->data); }

        VirtualRunLoop loop;
        FakeKeychain keychain;
        MemorySettingsStore settings;
        KeychainStore store { keychain, settings };
        LogCapture log;
    };

    // Credentials are one labelled JSON item, rewritten by a save or a new user name, and
    // read from the keychain no more once known.
    TEST_F(KeychainStoreTest, saveWritesOneLabelledJSONItemAndLaterLoadsComeFromMemory)
    {
        save("demo", "ashgrove-demo");

        auto item = keychain.item("com.ashgrove.workday.sso", "ashgrove-ss");
        ASSERT_TRUE(item);
        EXPECT_EQ(item->label, "Workday SSO credentials");
        EXPECT_EQ(storedJSON(), (nlohmann::json { { "username", "demo" }, { "password", "ashgrove-demo" } }));

        save("demo", "new-pass");
        EXPECT_EQ(storedJSON()["password"], "new-pass");
        run(store.setUsername("renamed"));
        EXPECT_EQ(storedJSON()["username"], "renamed");
        EXPECT_EQ(load(), (Credentials { "renamed", "new-pass" }));
        EXPECT_EQ(keychain.readCount(), 0);
    }

    // A stored item loads by its form; an absent, unreadable or unanswered one is asked for
    // again on the next load.
    TEST_F(KeychainStoreTest, storedItemsLoadByTheirFormAndFailedLoadsAreAskedForAgain)
    {
        EXPECT_FALSE(load());
        for (auto bytes : { std::string("\xff\xfe\x00\x01", 4), std::string("\xc0\xaf") }) {
            setItem(bytes);
            EXPECT_FALSE(load());
        }
        keychain.failNext(FakeKeychain::Operation::read, -25293);
        // The first releases stored the password alone, as text.
        setItem("hunter2");
        EXPECT_FALSE(load());
        EXPECT_TRUE(log.contains("[Keychain] load credentials failed: -25293 Keychain error."));
        EXPECT_EQ(load(), (Credentials { "ashgrove-ss", "hunter2" }));
        EXPECT_EQ(keychain.readCount(), 5);
    }

    TEST_F(KeychainStoreTest, forgettingBeatsAReadableItemUntilTheNextSaveAlsoAfterRestart)
    {
        setItem(R"({"username":"demo","password":"pass"})");
        keychain.setItem(KeychainStore::legacyUsernameService, KeychainStore::account, "demo");
        EXPECT_EQ(load(), (Credentials { "demo", "pass" }));

        run(store.deleteCredentials());
        run(store.setUsername("someone"));
        EXPECT_FALSE(keychain.item(KeychainStore::service, KeychainStore::account));
        EXPECT_FALSE(keychain.item(KeychainStore::legacyUsernameService, KeychainStore::account));

        setItem(R"({"username":"other","password":"pass"})");
        KeychainStore afterRestart(keychain, settings);
        EXPECT_FALSE(load(afterRestart));
        EXPECT_NO_THROW(run(afterRestart.deleteCredentials()));

        run(afterRestart.save("demo", "pass"));
        EXPECT_EQ(settings.boolean("ssoCredentialsForgotten"), false);
        EXPECT_EQ(load(afterRestart), (Credentials { "demo", "pass" }));
    }

    TEST_F(KeychainStoreTest, refusedDeleteThrowsItsStatusesAndAutofillStaysOffAfterRestart)
    {
        save("demo", "pass");
        keychain.setItem(KeychainStore::legacyUsernameService, KeychainStore::account, "demo");
        keychain.failNext(FakeKeychain::Operation::remove, -25308);

        try {
            run(store.deleteCredentials());
            FAIL() << "deleting should have thrown";
        } catch (const DeletionError& error) {
            EXPECT_EQ(error.credentialsStatus(), -25308);
            EXPECT_EQ(error.usernameStatus(), keychainSuccess);
        }
        EXPECT_TRUE(log.contains("[Keychain] delete credentials failed: -25308 Keychain error."));
        EXPECT_FALSE(load());
        KeychainStore afterRestart(keychain, settings);
        EXPECT_FALSE(load(afterRestart));

        keychain.failNext(FakeKeychain::Operation::remove, -25308);
        EXPECT_EQ(run(store.deleteLegacyUsername()), -25308);
        EXPECT_TRUE(log.contains("[Keychain] delete legacy username failed: -25308 Keychain error."));
    }

    TEST_F(KeychainStoreTest, failedSaveKeepsThePreviousPairAndTheForgottenFlag)
    {
        keychain.failNext(FakeKeychain::Operation::add, -34018);
        save("demo", "pass");
        EXPECT_FALSE(load());

        save("demo", "pass");
        keychain.failNext(FakeKeychain::Operation::update, -25299);
        save("other", "other-pass");
        EXPECT_TRUE(log.contains("[Keychain] save credentials failed: -25299 Keychain error."));
        EXPECT_EQ(load(), (Credentials { "demo", "pass" }));

        settings.setBoolean("ssoCredentialsForgotten", true);
        keychain.failNext(FakeKeychain::Operation::update, -25299);
        save("other", "other-pass");
        EXPECT_EQ(settings.boolean("ssoCredentialsForgotten"), true);
    }

    // Keyring answers come back in any order; a Forget still wins over every save begun before
    // it, and a save begun after it wins in turn.
    TEST_F(KeychainStoreTest, forgettingWinsOverSavesBegunBeforeItWhileTheyWaitForTheKeyring)
    {
        struct Row {
            const char* name;
            bool itemExisted;
            bool saveAfterForget;
            std::optional<Credentials> expected;
        };
        const Row rows[] = {
            { "first save, then forget", false, false, std::nullopt },
            { "new password, then forget", true, false, std::nullopt },
            { "save, forget, save again", true, true, Credentials { "demo", "third" } },
        };
        for (auto& row : rows) {
            SCOPED_TRACE(row.name);
            FakeKeychain keychain;
            MemorySettingsStore settings;
            KeychainStore store(keychain, settings);
            if (row.itemExisted)
                keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"demo","password":"first"})");
            keychain.isHoldingAnswers = true;
            std::vector<TaskHandle> operations;
            operations.push_back(spawn(loop, store.save("demo", "second")));
            operations.push_back(spawn(loop, store.deleteCredentials()));
            if (row.saveAfterForget)
                operations.push_back(spawn(loop, store.save("demo", "third")));
            EXPECT_FALSE(run(store.load())) << "autofill stays on until the keyring answers";
            for (int round = 0; round < 20; ++round) {
                keychain.answerHeld();
                loop.runUntilIdle();
            }
            keychain.isHoldingAnswers = false;
            EXPECT_EQ(run(store.load()), row.expected);
            auto item = keychain.item(KeychainStore::service, KeychainStore::account);
            EXPECT_EQ(item ? std::optional(item->data) : std::nullopt, row.expected ? std::optional(std::string(R"({"password":"third","username":"demo"})")) : std::nullopt);
            KeychainStore afterRestart(keychain, settings);
            EXPECT_EQ(run(afterRestart.load()), row.expected);
        }
    }

    TEST_F(KeychainStoreTest, forgettingWhileALoadWaitsForTheKeyringWins)
    {
        setItem(R"({"username":"demo","password":"pass"})");
        keychain.isHoldingAnswers = true;
        std::optional<std::optional<Credentials>> loaded;
        auto loading = spawn(loop, [](KeychainStore& store, std::optional<std::optional<Credentials>>& loaded) -> Task<void> {
            loaded = co_await store.load();
        }(store, loaded));
        auto forgetting = spawn(loop, store.deleteCredentials());
        ASSERT_FALSE(loaded);

        keychain.isHoldingAnswers = false;
        keychain.answerHeld();
        ASSERT_TRUE(loaded);
        EXPECT_FALSE(*loaded);
        EXPECT_FALSE(load());
    }

}
}

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

    // Forgetting turns autofill off at once and for good, even when the keyring refuses to delete
    // (the error carries its statuses) and after a restart; only the next save turns it on again.
    TEST_F(KeychainStoreTest, forgettingBeatsWhatTheKeychainStillHoldsUntilTheNextSave)
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
        EXPECT_FALSE(keychain.item(KeychainStore::legacyUsernameService, KeychainStore::account));
        run(store.setUsername("someone"));
        EXPECT_EQ(storedJSON()["username"], "demo");
        EXPECT_FALSE(load());
        KeychainStore afterRestart(keychain, settings);
        EXPECT_FALSE(load(afterRestart));

        EXPECT_NO_THROW(run(afterRestart.deleteCredentials()));
        EXPECT_FALSE(keychain.item(KeychainStore::service, KeychainStore::account));
        run(afterRestart.save("demo", "pass"));
        EXPECT_EQ(settings.boolean("ssoCredentialsForgotten"), false);
        EXPECT_EQ(load(afterRestart), (Credentials { "demo", "pass" }));

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

    // Keyring answers come back in any order; a Forget still wins over every save or load begun
    // before it, and a save begun after it wins in turn.
    TEST_F(KeychainStoreTest, forgettingWinsOverWhatBeganBeforeItWhileTheKeyringHoldsItsAnswers)
    {
        struct Row {
            std::vector<std::string> operations;
            bool itemExisted;
            std::optional<Credentials> expected;
        };
        const Row rows[] = {
            { { "save", "forget" }, false, std::nullopt },
            { { "save", "forget" }, true, std::nullopt },
            { { "load", "forget" }, true, std::nullopt },
            { { "save", "forget", "save again" }, true, Credentials { "demo", "third" } },
        };
        for (auto& row : rows) {
            SCOPED_TRACE(testing::PrintToString(row.operations) + (row.itemExisted ? " over a saved pair" : ""));
            FakeKeychain keychain;
            KeychainStore store(keychain, settings);
            settings.setBoolean(KeychainStore::forgottenKey, false);
            if (row.itemExisted)
                keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"demo","password":"first"})");
            keychain.isHoldingAnswers = true;
            std::vector<TaskHandle> operations;
            std::optional<std::optional<Credentials>> waitingLoad;
            for (auto& operation : row.operations) {
                if (operation == "load")
                    operations.push_back(spawn(loop, [](KeychainStore& store, auto& loaded) -> Task<void> { loaded = co_await store.load(); }(store, waitingLoad)));
                else if (operation == "forget")
                    operations.push_back(spawn(loop, store.deleteCredentials()));
                else
                    operations.push_back(spawn(loop, store.save("demo", operation == "save" ? "second" : "third")));
            }
            EXPECT_FALSE(run(store.load())) << "autofill came back before the keyring answered";
            for (int round = 0; round < 20; ++round) {
                keychain.answerHeld();
                loop.runUntilIdle();
            }
            keychain.isHoldingAnswers = false;
            EXPECT_EQ(waitingLoad, row.operations[0] == "load" ? std::make_optional<std::optional<Credentials>>() : std::nullopt);
            EXPECT_EQ(run(store.load()), row.expected);
            auto item = keychain.item(KeychainStore::service, KeychainStore::account);
            EXPECT_EQ(item ? std::optional(item->data) : std::nullopt, row.expected ? std::optional<std::string>(R"({"password":"third","username":"demo"})") : std::nullopt);
            EXPECT_EQ(run(KeychainStore(keychain, settings).load()), row.expected) << "after a restart";
        }
    }

}
}

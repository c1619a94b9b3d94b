#include "base/FileSettingsStore.h"
#include "base/Log.h"
#include "support/EnvironmentOverride.h"
#include "support/TemporaryFolder.h"
#include "support/VirtualRunLoop.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace halcyra;
using nlohmann::json;

namespace {

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    for (auto& entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path().filename());
    std::ranges::sort(files);
    return files;
}

}

// The badge settings redraw from what is about to change, so observers hear before the value does.
TEST(SettingsStore, observersHearOfEachChangeBeforeItHappens)
{
    MemorySettingsStore settings;
    settings.setBoolean("badgeIncludeTask", true);
    std::vector<std::string> heard;
    auto observation = settings.observeWillChange([&](std::string key) {
        heard.push_back(key + (settings.boolean(key) ? "=" + std::to_string(*settings.boolean(key)) : " absent"));
    });

    settings.setBoolean("badgeIncludeTask", true);
    settings.setBoolean("badgeIncludeTask", false);
    settings.removeValue("badgeIncludeDraft");
    settings.removeValue("badgeIncludeTask");

    EXPECT_EQ(heard, (std::vector<std::string> { "badgeIncludeTask=1", "badgeIncludeTask=0" }));
}

// A burst of changes is written once the loop comes back, an unchanged value not at all; a value
// of another type than asked for reads as missing. That every value survives a restart, also one
// written as the store goes away, is the settings-file fuzzer's check.
TEST(FileSettingsStore, aBurstOfChangesIsWrittenOnceAndAValueOfAnotherTypeReadsAsMissing)
{
    TemporaryFolder folder;
    auto file = folder.path() / "halcyra" / "defaults.json";
    VirtualRunLoop loop;
    FileSettingsStore settings(file, loop);
    for (int i = 0; i < 20; ++i)
        settings.setNumber("counter", i);
    EXPECT_FALSE(std::filesystem::exists(file));
    loop.runUntilIdle();
    EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::filesystem::path> { "defaults.json" });
    EXPECT_EQ(json::parse(contentsOf(file))["counter"], 19);
    auto anHourAgo = std::filesystem::last_write_time(file) - std::chrono::hours(1);
    std::filesystem::last_write_time(file, anHourAgo);
    settings.setNumber("counter", 19);
    loop.runUntilIdle();
    EXPECT_EQ(std::filesystem::last_write_time(file), anHourAgo);

    settings.setString("learnedTaskURL", "https://wd5.myworkday.test/ashgrove/d/inbox/2998$1.htmld");
    settings.setValue("countsSyncLatest", json::object({ { "task", 3 }, { "draft", nullptr } }));
    EXPECT_FALSE(settings.boolean("learnedTaskURL"));
    EXPECT_FALSE(settings.number("learnedTaskURL"));
    EXPECT_EQ(settings.number("counter"), 19);
    EXPECT_FALSE(settings.string("counter"));
    EXPECT_FALSE(settings.array("countsSyncLatest"));
}

TEST(FileSettingsStore, unreadableFileIsMovedAsideNotOverwritten)
{
    for (std::string contents : { "{\"ssoPasswordRejected\": tru", "[1, 2, 3]" }) {
        TemporaryFolder folder;
        auto file = folder.write("defaults.json", contents);
        VirtualRunLoop loop;

        testing::internal::CaptureStderr();
        FileSettingsStore settings(file, loop);
        auto stderrText = testing::internal::GetCapturedStderr();

        EXPECT_FALSE(settings.hasValue("ssoPasswordRejected"));
        EXPECT_NE(stderrText.find("defaults.json"), std::string::npos);
        EXPECT_NE(stderrText.find("moved it to"), std::string::npos);
        auto files = filesIn(folder.path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(files[0].string().starts_with("defaults.json.corrupt-"));
        EXPECT_EQ(contentsOf(folder.path() / files[0]), contents);

        // The application goes on and saves new values beside the kept file.
        settings.setBoolean("hideOnLaunch", true);
        settings.flush();
        EXPECT_EQ(filesIn(folder.path()).size(), 2u);
        EXPECT_EQ(FileSettingsStore(file, loop).boolean("hideOnLaunch"), true);
    }
}

// A file that exists but cannot be opened (here: no permission) holds settings that must not be
// lost: the session runs on the values in memory and the file stays as it was.
TEST(FileSettingsStore, fileThatCannotBeOpenedIsKeptAndNeverOverwritten)
{
    TemporaryFolder folder;
    const std::string contents = "{\"ssoPasswordRejected\": true}";
    auto file = folder.write("defaults.json", contents);
    std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
    std::filesystem::permissions(file, std::filesystem::perms::none);
    // Run as a user without the permission: root reads any file.
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0)
                _exit(3);
            VirtualRunLoop loop;
            FileSettingsStore settings(file, loop);
            settings.setBoolean("hideOnLaunch", true);
            settings.flush();
            _exit(settings.boolean("hideOnLaunch") == true ? 0 : 4);
        },
        testing::ExitedWithCode(0), "cannot read the settings file .*defaults.json");
    EXPECT_EQ(contentsOf(file), contents);
    EXPECT_EQ(filesIn(folder.path()), std::vector<std::filesystem::path> { "defaults.json" });
}

TEST(FileSettingsStore, defaultPathFollowsXDGConfigHomeElseHomeElseThereIsNone)
{
    EnvironmentOverride configurationHome("XDG_CONFIG_HOME", "/tmp/halcyra-xdg");
    EXPECT_EQ(FileSettingsStore::defaultPath(), "/tmp/halcyra-xdg/halcyra/defaults.json");
    EnvironmentOverride noConfigurationHome("XDG_CONFIG_HOME", nullptr);
    EnvironmentOverride home("HOME", "/home/demo");
    EXPECT_EQ(FileSettingsStore::defaultPath(), "/home/demo/.config/halcyra/defaults.json");
    // A folder shared by every user (such as /tmp) would let others read and plant settings.
    EnvironmentOverride noHome("HOME", nullptr);
    EXPECT_EQ(FileSettingsStore::defaultPath(), std::filesystem::path());
}

TEST(VerboseLogging, onlyTheExactArgumentTurnsItOn)
{
    EXPECT_TRUE(argumentsRequestVerboseLogging({ "/usr/bin/halcyra", "-HalcyraVerbose" }));
    EXPECT_TRUE(argumentsRequestVerboseLogging({ "-HalcyraVerbose" }));
    EXPECT_FALSE(argumentsRequestVerboseLogging({ "/usr/bin/halcyra", "-halcyraverbose", "--HalcyraVerbose", "-HalcyraVerbose=1" }));
}

#include "support/VirtualRunLoop.h"

#include "base/SettingsStore.h"
#include "notifications/NewTaskNotifier.h"

#include <gtest/gtest.h>
#include <vector>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

    // A notifier on the virtual clock whose announcements are collected; each complete reading is
    // taken 30 s after the one before, as the poller makes them.
    struct NotifierHarness {
        VirtualRunLoop loop;
        MemorySettingsStore settings;
        bool isFocused { false };
        std::vector<std::int64_t> announced;
        NewTaskNotifier notifier { { loop, settings, [this] { return isFocused; }, [this](std::int64_t newTasks) { announced.push_back(newTasks); } } };

        CountsReading readingOf(std::int64_t tasks, CountsReading::Origin origin = CountsReading::Origin::thisMachine) const { return { .task = tasks, .lastUpdated = loop.wallNow(), .origin = origin }; }
        void read(std::int64_t tasks)
        {
            loop.advance(30s);
            notifier.takeReading(readingOf(tasks));
        }
    };

    TEST(NewTaskNotifierTest, announcesEachIncreaseOverThePreviousCompleteReadingButNotTheFirstReading)
    {
        NotifierHarness harness;
        harness.read(4);
        harness.read(4);
        harness.read(3);
        harness.read(5);
        harness.loop.advance(60s);
        // A count read after a complete reading is not one: it keeps the time of the last.
        auto partial = harness.readingOf(9);
        partial.lastUpdated = harness.loop.wallNow() - 60s;
        harness.notifier.takeReading(partial);
        harness.read(6);
        EXPECT_EQ(harness.announced, (std::vector<std::int64_t> { 2, 1 }));
    }

    TEST(NewTaskNotifierTest, announcesAtMostOnceAMinuteAndSumsUpWhatWasHeldBack)
    {
        NotifierHarness harness;
        harness.read(1);
        harness.read(2);
        // 30 s after the announcement: held back, not lost.
        harness.read(4);
        EXPECT_EQ(harness.announced, (std::vector<std::int64_t> { 1 }));
        harness.loop.advance(29.9s);
        harness.notifier.takeReading(harness.readingOf(4));
        EXPECT_EQ(harness.announced, (std::vector<std::int64_t> { 1 }));
        harness.loop.advance(0.1s);
        harness.notifier.takeReading(harness.readingOf(5));
        EXPECT_EQ(harness.announced, (std::vector<std::int64_t> { 1, 3 }));
    }

    TEST(NewTaskNotifierTest, tasksSeenInTheFocusedWindowOrWithTheSettingOffAreNoNews)
    {
        NotifierHarness harness;
        harness.read(1);
        harness.isFocused = true;
        harness.read(3);
        harness.isFocused = false;
        harness.read(3);
        harness.settings.setBoolean(NewTaskNotifier::enabledKey, false);
        harness.read(5);
        harness.settings.setBoolean(NewTaskNotifier::enabledKey, true);
        harness.read(6);
        EXPECT_EQ(harness.announced, (std::vector<std::int64_t> { 1 }));
    }

    TEST(NewTaskNotifierTest, aNewerReadingFromAnotherMachineIsTheNewBaselineAnOlderOneIsNot)
    {
        NotifierHarness harness;
        harness.read(1);
        harness.loop.advance(10s);
        harness.notifier.takeReading(harness.readingOf(4, CountsReading::Origin::anotherMachine));
        harness.read(4);
        EXPECT_TRUE(harness.announced.empty());

        auto stale = harness.readingOf(0, CountsReading::Origin::anotherMachine);
        *stale.lastUpdated -= 1h;
        harness.notifier.takeReading(stale);
        harness.read(5);
        EXPECT_EQ(harness.announced, (std::vector<std::int64_t> { 1 }));
    }

    TEST(NewTaskNotifierTest, titleSaysHowManyTasksAreNew)
    {
        EXPECT_EQ(newTaskNotificationTitle(1), "New Workday task");
        EXPECT_EQ(newTaskNotificationTitle(3), "3 new Workday tasks");
    }

}
}

#include "support/VirtualRunLoop.h"

#include "base/SettingsStore.h"
#include "notifications/NewTaskNotifier.h"

#include <gtest/gtest.h>
#include <vector>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;
    using Announced = std::vector<std::int64_t>;

    // A notifier on the virtual clock whose announcements are collected; each complete reading is
    // taken 30 s after the one before, as the poller makes them.
    struct NotifierHarness {
        VirtualRunLoop loop;
        MemorySettingsStore settings;
        bool isFocused { false };
        Announced announced;
        NewTaskNotifier notifier { { loop, settings, [this] { return isFocused; }, [this](std::int64_t newTasks) { announced.push_back(newTasks); } } };

        CountsReading readingOf(std::int64_t tasks, CountsReading::Origin origin = CountsReading::Origin::thisMachine) const { return { .task = tasks, .lastUpdated = loop.wallNow(), .origin = origin }; }
        void read(std::initializer_list<std::int64_t> tasks)
        {
            for (auto count : tasks) {
                loop.advance(30s);
                notifier.takeReading(readingOf(count));
            }
        }
    };

    TEST(NewTaskNotifierTest, announcesEachIncreaseOfACompleteReadingButNotTheFirstAtMostOnceAMinute)
    {
        NotifierHarness harness;
        harness.read({ 4, 4, 3, 5 });
        harness.loop.advance(60s);
        // A count read after a complete reading is not one: it keeps the time of the last.
        auto partial = harness.readingOf(9);
        partial.lastUpdated = harness.loop.wallNow() - 60s;
        harness.notifier.takeReading(partial);
        harness.read({ 6 });
        EXPECT_EQ(harness.announced, (Announced { 2, 1 }));

        // 30 s after an announcement: held back, not lost, and summed up once a minute passed.
        harness.read({ 8 });
        harness.loop.advance(29.9s);
        harness.notifier.takeReading(harness.readingOf(8));
        EXPECT_EQ(harness.announced, (Announced { 2, 1 }));
        harness.loop.advance(0.1s);
        harness.notifier.takeReading(harness.readingOf(9));
        EXPECT_EQ(harness.announced, (Announced { 2, 1, 3 }));
        EXPECT_EQ(newTaskNotificationTitle(1), "New Workday task");
        EXPECT_EQ(newTaskNotificationTitle(3), "3 new Workday tasks");
    }

    TEST(NewTaskNotifierTest, whatTheUserHasSeenIsNoNews)
    {
        NotifierHarness harness;
        harness.read({ 1 });
        // In the focused window, or with the notification switched off.
        harness.isFocused = true;
        harness.read({ 3 });
        harness.isFocused = false;
        harness.read({ 3 });
        harness.settings.setBoolean(NewTaskNotifier::enabledKey, false);
        harness.read({ 5 });
        harness.settings.setBoolean(NewTaskNotifier::enabledKey, true);
        // On another machine that made a newer reading; an older one of another machine is no
        // baseline.
        harness.loop.advance(10s);
        harness.notifier.takeReading(harness.readingOf(7, CountsReading::Origin::anotherMachine));
        harness.read({ 7 });
        auto stale = harness.readingOf(0, CountsReading::Origin::anotherMachine);
        *stale.lastUpdated -= 1h;
        harness.notifier.takeReading(stale);
        harness.read({ 8 });
        EXPECT_EQ(harness.announced, (Announced { 1 }));
    }

}
}

#include "base/Task.h"
#include "support/VirtualRunLoop.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

Task<void> sleepThenRecord(RunLoop& loop, Seconds delay, std::vector<std::string>& log, std::string name)
{
    bool hasElapsed = co_await sleep(loop, delay);
    log.push_back(name + (hasElapsed ? " woke" : " cancelled"));
}

Task<int> answerLater(RunLoop& loop)
{
    co_await sleep(loop, 2s);
    co_return 42;
}

}

TEST(Task, sleepEndsAtItsDeadlineOnVirtualTime)
{
    VirtualRunLoop loop;
    std::vector<std::string> log;
    spawn(sleepThenRecord(loop, 180s, log, "recovery"));

    loop.advance(179.9s);
    EXPECT_TRUE(log.empty());
    loop.advance(0.1s);
    EXPECT_EQ(log, std::vector<std::string> { "recovery woke" });
}

TEST(Task, equalDeadlinesRunInSchedulingOrder)
{
    VirtualRunLoop loop;
    std::vector<std::string> log;
    spawn(sleepThenRecord(loop, 3s, log, "first"));
    spawn(sleepThenRecord(loop, 1s, log, "early"));
    spawn(sleepThenRecord(loop, 3s, log, "second"));
    spawn(sleepThenRecord(loop, 3s, log, "third"));

    loop.advance(10s);
    EXPECT_EQ(log, (std::vector<std::string> { "early woke", "first woke", "second woke", "third woke" }));
}

TEST(Task, cancellingEndsTheSleepAtOnceAndLaterSleepsToo)
{
    VirtualRunLoop loop;
    std::vector<std::string> log;
    auto task = [](RunLoop& loop, std::vector<std::string>& log) -> Task<void> {
        bool first = co_await sleep(loop, 30s);
        log.push_back(first ? "first woke" : "first cancelled");
        bool second = co_await sleep(loop, 30s);
        log.push_back(second ? "second woke" : "second cancelled");
    };
    auto handle = spawn(task(loop, log));
    loop.advance(10s);
    handle.cancel();

    EXPECT_EQ(log, (std::vector<std::string> { "first cancelled", "second cancelled" }));
    EXPECT_EQ(loop.pendingTimerCount(), 0u);
}

TEST(Task, cancellationReachesTheChildTaskBeingAwaited)
{
    VirtualRunLoop loop;
    std::vector<std::string> log;
    auto parent = [](RunLoop& loop, std::vector<std::string>& log) -> Task<void> {
        co_await sleepThenRecord(loop, 60s, log, "child");
        log.push_back("parent resumed");
    };
    auto handle = spawn(parent(loop, log));
    loop.advance(5s);
    handle.cancel();
    EXPECT_EQ(log, (std::vector<std::string> { "child cancelled", "parent resumed" }));
}

TEST(Task, awaitedChildGivesItsValue)
{
    VirtualRunLoop loop;
    int result = 0;
    auto parent = [](RunLoop& loop, int& result) -> Task<void> {
        result = co_await answerLater(loop);
    };
    spawn(parent(loop, result));
    loop.advance(1s);
    EXPECT_EQ(result, 0);
    loop.advance(1s);
    EXPECT_EQ(result, 42);
}

TEST(Task, cancelledHandleDoesNotTouchATimerScheduledLater)
{
    VirtualRunLoop loop;
    std::vector<std::string> log;
    auto handle = spawn(sleepThenRecord(loop, 1s, log, "old"));
    loop.advance(1s);
    spawn(sleepThenRecord(loop, 1s, log, "new"));
    handle.cancel(); // the old task has finished; cancelling it is harmless
    loop.advance(1s);
    EXPECT_EQ(log, (std::vector<std::string> { "old woke", "new woke" }));
}

TEST(Task, callbackResultArrivesOrTheTaskIsCancelledFirst)
{
    VirtualRunLoop loop;
    std::function<void(int)> complete;
    std::vector<std::string> log;
    auto waiter = [](std::function<void(int)>& complete, std::vector<std::string>& log) -> Task<void> {
        auto value = co_await awaitCallback<int>([&complete](std::function<void(int)> done) { complete = std::move(done); });
        log.push_back(value ? "got " + std::to_string(*value) : "cancelled");
    };

    spawn(waiter(complete, log));
    complete(7);
    EXPECT_EQ(log, std::vector<std::string> { "got 7" });

    log.clear();
    auto handle = spawn(waiter(complete, log));
    handle.cancel();
    complete(8); // too late: dropped
    EXPECT_EQ(log, std::vector<std::string> { "cancelled" });
}

TEST(Task, callbackThatCompletesImmediatelyDoesNotSuspend)
{
    std::vector<std::string> log;
    auto waiter = [](std::vector<std::string>& log) -> Task<void> {
        auto value = co_await awaitCallback<std::string>([](std::function<void(std::string)> done) { done("now"); });
        log.push_back(*value);
    };
    spawn(waiter(log));
    EXPECT_EQ(log, std::vector<std::string> { "now" });
}

TEST(VirtualRunLoop, wallClockMovesWithTheMonotonicClock)
{
    VirtualRunLoop loop;
    auto wallStart = loop.wallNow();
    auto start = loop.now();
    loop.advance(24h);
    EXPECT_EQ(loop.now() - start, std::chrono::nanoseconds(24h));
    EXPECT_EQ(loop.wallNow() - wallStart, std::chrono::nanoseconds(24h));
}

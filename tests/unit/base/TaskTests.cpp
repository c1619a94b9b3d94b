#include "base/TaskGroup.h"
#include "base/WorkerPool.h"
#include "support/VirtualRunLoop.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

Task<int> answerLater(RunLoop& loop)
{
    co_await sleep(loop, 2s);
    co_return 42;
}

// Notes in `log` when the task's frame goes away, resumed or not.
struct FrameMark {
    std::vector<std::string>& log;
    ~FrameMark() { log.push_back("frame destroyed"); }
};

}

TEST(Task, cancellingResumesTheTaskLaterFromTheLoopAndAFurtherWaitEndsIt)
{
    VirtualRunLoop loop;
    std::vector<std::string> log;
    auto handle = spawn(loop, [](RunLoop& loop, std::vector<std::string>& log) -> Task<void> {
        FrameMark mark { log };
        // A loop that ignores cancellation must not spin.
        while (true) {
            bool hasElapsed = co_await sleep(loop, 30s);
            log.push_back(hasElapsed ? "woke" : "cancelled");
        }
    }(loop, log));
    loop.advance(30s);
    handle.cancel();
    EXPECT_EQ(log, std::vector<std::string> { "woke" }) << "nothing of the task runs inside cancel()";
    EXPECT_EQ(loop.pendingTimerCount(), 0u);

    loop.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string> { "woke", "cancelled", "frame destroyed" }));
    EXPECT_TRUE(handle.isFinished());
}

TEST(Task, aCallbackThatAnswersAfterTheCancellationIsDropped)
{
    VirtualRunLoop loop;
    std::function<void(int)> complete;
    std::optional<std::optional<int>> value;
    auto handle = spawn(loop, [](std::function<void(int)>& complete, std::optional<std::optional<int>>& value) -> Task<void> {
        value = co_await awaitCallback<int>([&complete](std::function<void(int)> done) { complete = std::move(done); });
    }(complete, value));
    handle.cancel();
    complete(8);
    loop.runUntilIdle();
    EXPECT_EQ(value, std::make_optional<std::optional<int>>()) << "the task went on without being told of the cancellation";
}

namespace {

// An object whose tasks use its fields after every kind of wait.
struct Owner {
    VirtualRunLoop& loop;
    std::vector<std::string> touches {};
    TaskGroup tasks { loop };
};

}

TEST(TaskGroup, anOwnerDestroyedWhileItsTasksWaitIsNeverTouchedAgain)
{
    // Run under AddressSanitizer: a resumed task would write into the freed owner.
    VirtualRunLoop loop;
    std::function<void(std::string)> answerScript;
    auto owner = std::make_unique<Owner>(loop);
    owner->tasks.spawn([](Owner& self) -> Task<void> {
        co_await sleep(self.loop, 10s);
        self.touches.push_back("slept");
    }(*owner));
    owner->tasks.spawn([](Owner& self, std::function<void(std::string)>& answer) -> Task<void> {
        auto result = co_await awaitCallback<std::string>([&answer](auto done) { answer = std::move(done); });
        self.touches.push_back(result.value_or("none"));
    }(*owner, answerScript));
    owner->tasks.spawn([](Owner& self) -> Task<void> { self.touches.push_back(std::to_string(co_await answerLater(self.loop))); }(*owner));
    owner.reset();

    answerScript("late answer");
    loop.advance(60s);
    EXPECT_EQ(loop.pendingTimerCount(), 0u);

    owner = std::make_unique<Owner>(loop);
    owner->tasks.spawn([](Owner& self, std::unique_ptr<Owner>& slot) -> Task<void> {
        co_await sleep(self.loop, 1s);
        auto& loop = self.loop;
        slot.reset();
        co_await sleep(loop, 1s);
        ADD_FAILURE() << "an orphaned task went on after its next wait";
    }(*owner, owner));
    loop.advance(60s);
    EXPECT_FALSE(owner);
    EXPECT_EQ(loop.pendingTimerCount(), 0u);
}

TEST(WorkerPool, aCancelledOrDestroyedWaiterDropsTheResult)
{
    VirtualRunLoop loop;
    auto pool = std::make_unique<WorkerPool>(loop, 2);
    std::shared_mutex gate;
    gate.lock();
    std::atomic<int> started { 0 };
    std::vector<std::string> log;
    auto waiter = [](WorkerPool& pool, std::shared_mutex& gate, std::atomic<int>& started, std::vector<std::string>& log) -> Task<void> {
        auto result = co_await pool.run([&gate, &started] {
            ++started;
            std::shared_lock held(gate);
            return 1;
        });
        log.push_back(result ? "result" : "cancelled");
    };
    auto cancelled = spawn(loop, waiter(*pool, gate, started, log));
    auto owner = std::make_unique<TaskGroup>(loop);
    owner->spawn(waiter(*pool, gate, started, log));
    while (started < 2)
        std::this_thread::yield();

    cancelled.cancel();
    owner.reset();
    loop.runUntilIdle();
    EXPECT_EQ(log, std::vector<std::string> { "cancelled" });

    // Both results are posted before the pool has let its workers go.
    gate.unlock();
    pool.reset();
    loop.runUntilIdle();
    EXPECT_EQ(log, std::vector<std::string> { "cancelled" });
}

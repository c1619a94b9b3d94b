#include "ServiceTestSupport.h"
#include "base/WorkerPool.h"
#include "platform/GLibRunLoop.h"

#include <gtest/gtest.h>
#include <thread>

using namespace halcyra;

namespace {

TEST(GLibRunLoop, workPostedFromAnotherThreadOrFromTheLoopRunsLaterOnTheLoop)
{
    GLibRunLoop loop;
    auto loopThread = std::this_thread::get_id();
    std::vector<std::string> log;
    loop.post([&] { log.push_back("posted on the loop"); });
    EXPECT_TRUE(log.empty()) << "a post never runs inside the call";
    std::thread([&] {
        loop.post([&] { log.push_back(std::this_thread::get_id() == loopThread ? "posted from a worker, run on the loop" : "run off the loop"); });
    }).join();

    ASSERT_TRUE(runMainLoopUntil([&] { return log.size() == 2; }));
    EXPECT_EQ(log, (std::vector<std::string> { "posted on the loop", "posted from a worker, run on the loop" }));
}

// Image work runs on a worker, and its result comes back to the loop, waking it, on the loop's thread.
TEST(GLibRunLoop, workerPoolWorkRunsOffTheLoopAndItsResultWakesTheIdleLoop)
{
    GLibRunLoop loop;
    WorkerPool pool(loop);
    auto loopThread = std::this_thread::get_id();
    std::optional<std::string> result;
    auto handle = spawn(loop, [](WorkerPool& pool, std::thread::id loopThread, std::optional<std::string>& result) -> Task<void> {
        auto where = co_await pool.run([loopThread] { return std::string(std::this_thread::get_id() != loopThread ? "worker" : "loop"); });
        result = *where + (std::this_thread::get_id() == loopThread ? ", back on the loop" : ", still off the loop");
    }(pool, loopThread, result));
    EXPECT_FALSE(result);
    ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result, "worker, back on the loop");
}

}

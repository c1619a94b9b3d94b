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

TEST(GLibRunLoop, aWorkerPoolResultWakesTheIdleLoop)
{
    GLibRunLoop loop;
    WorkerPool pool(loop);
    std::optional<int> result;
    auto handle = spawn(loop, [](WorkerPool& pool, std::optional<int>& result) -> Task<void> {
        result = co_await pool.run([] { return 6 * 7; });
    }(pool, result));
    ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result, 42);
}

}

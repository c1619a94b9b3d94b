#include "ServiceTestSupport.h"
#include "base/WorkerPool.h"
#include "platform/glib/GLibRunLoop.h"

#include <gtest/gtest.h>
#include <thread>

using namespace halcyra;

namespace {

// Work posted on the loop runs later, never inside the call; image work runs on a worker, and its
// result comes back to the loop, waking it, on the loop's thread.
TEST(GLibRunLoop, postedWorkAndWorkerResultsRunLaterOnTheLoop)
{
    GLibRunLoop loop;
    WorkerPool pool(loop);
    auto loopThread = std::this_thread::get_id();
    bool hasRunPosted = false;
    loop.post([&] { hasRunPosted = true; });
    EXPECT_FALSE(hasRunPosted) << "a post never runs inside the call";
    std::optional<std::string> result;
    auto handle = spawn(loop, [](WorkerPool& pool, std::thread::id loopThread, std::optional<std::string>& result) -> Task<void> {
        auto where = co_await pool.run([loopThread] { return std::string(std::this_thread::get_id() != loopThread ? "worker" : "loop"); });
        result = *where + (std::this_thread::get_id() == loopThread ? ", back on the loop" : ", still off the loop");
    }(pool, loopThread, result));
    EXPECT_FALSE(result);
    ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(hasRunPosted);
    EXPECT_EQ(result, "worker, back on the loop");
}

}

#include "GLibImageWorkQueue.h"

namespace halcyra {

namespace {

    struct Job {
        std::function<void()> work;
        std::function<void()> completion;
    };

}

GLibImageWorkQueue::GLibImageWorkQueue()
    // One thread: photos are decoded, searched and encoded one at a time.
    : m_pool(g_thread_pool_new(runJob, nullptr, 1, FALSE, nullptr))
{
}

GLibImageWorkQueue::~GLibImageWorkQueue()
{
    // Lets a running job finish; queued ones still run, their completions are posted as usual.
    g_thread_pool_free(m_pool, FALSE, TRUE);
}

void GLibImageWorkQueue::perform(std::function<void()> work, std::function<void()> completion)
{
    g_thread_pool_push(m_pool, new Job { std::move(work), std::move(completion) }, nullptr);
}

void GLibImageWorkQueue::runJob(gpointer data, gpointer)
{
    auto* job = static_cast<Job*>(data);
    job->work();
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            static_cast<Job*>(data)->completion();
            return G_SOURCE_REMOVE;
        },
        job, [](gpointer data) { delete static_cast<Job*>(data); });
}

}

#pragma once

#include "roster/ImageWorkQueue.h"

#include <glib.h>

namespace halcyra {

// One worker thread of a GLib thread pool for image work; completions come back to the default
// main context.
class GLibImageWorkQueue final : public ImageWorkQueue {
public:
    GLibImageWorkQueue();
    ~GLibImageWorkQueue();
    GLibImageWorkQueue(const GLibImageWorkQueue&) = delete;
    GLibImageWorkQueue& operator=(const GLibImageWorkQueue&) = delete;

    void perform(std::function<void()> work, std::function<void()> completion) override;

private:
    static void runJob(gpointer job, gpointer);
    GThreadPool* m_pool { nullptr };
};

}

#pragma once

#include "platform/glib/GLibRunLoop.h"
#include "support/RunTask.h"

namespace halcyra {

// Runs `task` on the default GLib main context to its end, for tests against real services.
template <typename T>
T runOnMainLoop(Task<T> task)
{
    GLibRunLoop loop;
    return runTask(loop, std::move(task), [] { g_main_context_iteration(nullptr, TRUE); });
}

}

#pragma once

#include <glib.h>
#include <malloc.h>

namespace halcyra {

// glibc gives freed memory back to the system only from the top of a heap, and after one large
// free it raises that bar for the rest of the process's life. A process that loads and drops
// pages all day so keeps the pages it freed in between: eight minutes into a signed-in run,
// 5 MB of the application's heap and 3 MB of its web process's were such pages. Once a minute,
// when the loop is otherwise idle, this hands them back.
inline void returnFreedHeapMemoryEveryMinute()
{
    g_timeout_add_seconds_full(
        G_PRIORITY_LOW, 60, +[](gpointer) -> gboolean {
            malloc_trim(0);
            return G_SOURCE_CONTINUE;
        },
        nullptr, nullptr);
}

}

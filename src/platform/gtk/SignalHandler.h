#pragma once

#include <glib-object.h>

namespace halcyra {

// G_CALLBACK for a captureless lambda: a function call, so commas in its body are fine.
template <typename Function>
GCallback signalHandler(Function* function)
{
    return reinterpret_cast<GCallback>(function);
}

}

#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>

namespace halcyra::fuzz {

void fail(const char* rule)
{
    std::fprintf(stderr, "fuzz rule broken: %s\n", rule);
    std::abort();
}

}

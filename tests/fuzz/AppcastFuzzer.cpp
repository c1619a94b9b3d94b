#include "FuzzTarget.h"
#include "platform/AppcastParser.h"

using namespace halcyra;

HALCYRA_FUZZ_TARGET(appcast)
{
    parseAppcast(input);
}

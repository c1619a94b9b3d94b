#include "FuzzTarget.h"
#include "platform/network/AppcastParser.h"

using namespace halcyra;

HALCYRA_FUZZ_TARGET(appcast)
{
    parseAppcast(input);
}

#include "FuzzTarget.h"
#include "roster/RosterDecoding.h"
#include "roster/VCard.h"

using namespace halcyra;

// The read script's roster reply, and the base64 of a photo reply.
HALCYRA_FUZZ_TARGET(rosterReply)
{
    auto roster = decodeRoster(input);
    if (auto* decoded = std::get_if<Roster>(&roster))
        vCardData(decoded->students, {});
    else
        fuzz::check(!std::get<std::string>(roster).empty(), "a refused roster says why");

    if (auto bytes = decodeBase64(input))
        fuzz::check(decodeBase64(base64Encoded(*bytes)) == bytes, "decoded base64 encodes back to the same bytes");
}

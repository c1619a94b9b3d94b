#include "FuzzTarget.h"
#include "sync/CountsCoding.h"

using namespace halcyra;

// A record file's fields, the stored form, and a bare time.
HALCYRA_FUZZ_TARGET(syncRecord)
{
    if (auto time = parseRFC3339(input))
        fuzz::check(parseRFC3339(rfc3339String(*time)).has_value(), "a time read is written readably");
    auto fields = nlohmann::ordered_json::parse(input, nullptr, false);
    if (fields.is_discarded())
        return;
    if (auto counts = syncedCountsFromRecordFields(fields)) {
        fuzz::check(syncedCountsFromRecordFields(recordFields(*counts)).has_value(), "a record read is written readably");
        logDateDescription(counts->observedAt);
    }
    if (auto counts = syncedCountsFromStored(nlohmann::json::parse(input, nullptr, false)))
        fuzz::check(syncedCountsFromStored(storedCounts(*counts)).has_value(), "stored counts read are stored readably");
}

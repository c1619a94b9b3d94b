#include "SyncError.h"

namespace halcyra {

std::string errorSummary(const SyncError& error)
{
    return std::string(syncErrorDomain) + " (" + std::to_string(error.numericCode()) + ")";
}

}

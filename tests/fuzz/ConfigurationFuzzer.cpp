#include "FuzzTarget.h"
#include "config/Configuration.h"

using namespace halcyra;

HALCYRA_FUZZ_TARGET(configuration)
{
    auto result = parseConfiguration(std::string(input), "/etc/halcyra/halcyra.conf");
    fuzz::check(result.configuration.has_value() != !result.error.empty(), "a configuration or an error, never both or neither");
}

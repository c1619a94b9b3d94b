#include "RosterScripts.h"

#include "EmbeddedScripts.h"

namespace halcyra {

std::string rosterWaitScript()
{
    return std::string(scripts::rosterTableScriptSource) + "\n" + std::string(scripts::rosterWaitScriptSource);
}

std::string rosterReadScript()
{
    return std::string(scripts::rosterTableScriptSource) + "\n" + std::string(scripts::rosterReadScriptSource);
}

std::string_view photoFetchScript()
{
    return scripts::photoFetchScriptSource;
}

}

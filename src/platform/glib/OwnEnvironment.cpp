#include "platform/glib/OwnEnvironment.h"

#include <string>
#include <vector>

namespace halcyra {

namespace {

    std::vector<std::string>& ownNames()
    {
        static std::vector<std::string> names;
        return names;
    }

}

void setOwnEnvironmentVariable(const char* name, const char* value)
{
    g_setenv(name, value, TRUE);
    ownNames().emplace_back(name);
}

GRefPtr<GAppLaunchContext> launchContextWithoutOwnEnvironment()
{
    auto context = adoptGRef(g_app_launch_context_new());
    for (auto& name : ownNames())
        g_app_launch_context_unsetenv(context.get(), name.c_str());
    return context;
}

}

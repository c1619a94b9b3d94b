#include "session/PageScripts.h"
#include "support/TemporaryFolder.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace halcyra {
namespace {

    TEST(PageScripts, aConfiguredHostCannotEndTheSignInScriptsStringEarly)
    {
        EXPECT_NE(signInPageScript({ "login.ashgrove.test" }).find("var hosts = [\"login.ashgrove.test\"];"), std::string::npos);
        EXPECT_NE(signInPageScript({ "a\"];alert(1);//" }).find("var hosts = [\"a\\\"];alert(1);//\"];"), std::string::npos);
    }

    // Runs each script through Node's parser, as the engine would parse it. Function bodies are
    // checked inside the async function the engine wraps them in.
    TEST(PageScripts, everyScriptIsValidJavaScript)
    {
        if (std::system("node --version > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "node is not installed";

        TemporaryFolder folder;
        const std::pair<std::string, std::string> scripts[] = {
            { "sign-in", signInPageScript({ "login.ashgrove.test" }) },
            { "click", clickScript("inbox_preview") },
            { "app-banner", std::string(appBannerScript()) },
            { "broken-flow", std::string(brokenFlowExpression()) },
            { "remember-device", "(async function () {\n" + std::string(rememberDeviceScript()) + "\n});\n" },
        };
        for (auto& [name, source] : scripts) {
            auto command = "node --check '" + folder.write(name + ".js", source).string() + "' 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0) << name << " does not parse";
        }
    }

}
}

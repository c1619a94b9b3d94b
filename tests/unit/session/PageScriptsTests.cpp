#include "session/PageScripts.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace halcyra {
namespace {

    TEST(PageScriptsTest, signInScriptCarriesTheSSOHostsAsAQuotedList)
    {
        auto script = signInPageScript({ "login.ashgrove.test" });
        EXPECT_NE(script.find("var hosts = [\"login.ashgrove.test\"];"), std::string::npos);
        EXPECT_EQ(script.find("SSO_HOSTS;"), std::string::npos);

        // A configured host can never end the string literal early.
        auto hostile = signInPageScript({ "a\"];alert(1);//" });
        EXPECT_NE(hostile.find("var hosts = [\"a\\\"];alert(1);//\"];"), std::string::npos);
    }

    TEST(PageScriptsTest, clickScriptSelectsTheAutomationID)
    {
        auto script = clickScript("inbox_preview");
        EXPECT_NE(script.find("document.querySelector('[data-automation-id=\"inbox_preview\"]')"), std::string::npos);
    }

    // Runs each script through Node's parser, as the engine would parse it. Function bodies are
    // checked inside the async function the engine wraps them in.
    TEST(PageScriptsTest, everyScriptIsValidJavaScript)
    {
        if (std::system("node --version > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "node is not installed";

        std::random_device random;
        auto folder = std::filesystem::temp_directory_path() / ("halcyra-scripts-" + std::to_string(random()));
        std::filesystem::create_directories(folder);

        const std::vector<std::pair<std::string, std::string>> scripts {
            { "sign-in", signInPageScript({ "login.ashgrove.test" }) },
            { "click", clickScript("inbox_preview") },
            { "app-banner", std::string(appBannerScript()) },
            { "broken-flow", std::string(brokenFlowExpression()) },
            { "remember-device", "(async function () {\n" + std::string(rememberDeviceScript()) + "\n});\n" },
        };
        for (auto& [name, source] : scripts) {
            auto path = folder / (name + ".js");
            std::ofstream(path) << source;
            auto command = "node --check '" + path.string() + "' 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0) << name << " does not parse";
        }
        std::filesystem::remove_all(folder);
    }

}
}

#include "session/PageScripts.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    TEST(PageScripts, aConfiguredHostCannotEndTheSignInScriptsStringEarly)
    {
        EXPECT_NE(signInPageScript({ "a\"];alert(1);//" }).find("var hosts = [\"a\\\"];alert(1);//\"];"), std::string::npos);
    }

}
}

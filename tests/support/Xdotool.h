#pragma once

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace halcyra {

// Real key presses and pointer moves from the X server, as a user makes them, to the window
// whose title starts so (`title` is a regular expression; end it with $ for the whole title).
inline void xdotool(const std::string& title, const std::string& steps)
{
    auto command = "xdotool search --sync --name '^" + title + "' " + steps;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

}

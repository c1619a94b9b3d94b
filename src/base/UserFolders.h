#pragma once

#include <filesystem>

namespace halcyra {

// The user's configuration folder as the XDG base directory rules name it: $XDG_CONFIG_HOME when
// it is an absolute path, else ~/.config; empty when neither can be told.
std::filesystem::path userConfigFolder();

}

#pragma once

#include <filesystem>

namespace halcyra {

// The folder Halcyra runs from, the parent of its bin/ folder. The web-process extension and the
// translations are found under it, so that the build tree and an installed package (under /usr
// or any other prefix) each use their own and neither depends on the other.
std::filesystem::path installPrefix();

}

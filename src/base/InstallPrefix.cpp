#include "InstallPrefix.h"

namespace halcyra {

std::filesystem::path installPrefix()
{
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return executable.parent_path().parent_path();
}

}

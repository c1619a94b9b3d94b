#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

// Feeds every committed corpus file to its target: `halcyra-fuzz-replay <corpus folder>`. A
// target without a corpus folder is an error, so that a renamed target cannot go unreplayed.

namespace halcyra::fuzz {

static std::map<std::string, TargetFunction>& targets()
{
    static std::map<std::string, TargetFunction> targets;
    return targets;
}

Registration::Registration(const char* name, TargetFunction function)
{
    targets().emplace(name, function);
}

}

// Named when AddressSanitizer or an uncaught exception ends the replay, to replay it alone.
static std::filesystem::path currentInput;

static void nameCurrentInput()
{
    std::fprintf(stderr, "while replaying %s\n", currentInput.c_str());
}

int main(int argc, char** argv)
{
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(nameCurrentInput);
#endif
    std::set_terminate([] {
        nameCurrentInput();
        std::abort();
    });
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    std::filesystem::path corpus = argv[1];
    int status = 0;
    int total = 0;
    for (auto& [name, target] : halcyra::fuzz::targets()) {
        auto folder = corpus / name;
        if (!std::filesystem::is_directory(folder)) {
            std::fprintf(stderr, "%s: no corpus folder %s\n", name.c_str(), folder.c_str());
            status = 1;
            continue;
        }
        for (auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                std::ifstream file(currentInput = entry.path(), std::ios::binary);
                target(std::string { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() });
                ++total;
            }
        }
    }
    std::printf("Fuzz corpora: %d inputs replayed through %zu targets\n", total, halcyra::fuzz::targets().size());
    return status;
}

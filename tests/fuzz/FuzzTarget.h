#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One fuzz target per file. Built with clang and libFuzzer, HALCYRA_FUZZ_TARGET(name) is
// LLVMFuzzerTestOneInput; in the replay program (any compiler, under the sanitizers of the build)
// every target registers under its name and is fed the files of tests/fuzz/corpus/<name>/.

namespace halcyra::fuzz {

using TargetFunction = void (*)(std::string_view input);

struct Registration {
    Registration(const char* name, TargetFunction);
};

// A target checks what must hold for every input; a broken rule aborts, which libFuzzer and the
// replay report as a crash with the input that broke it.
[[noreturn]] void fail(const char* rule);
inline void check(bool condition, const char* rule)
{
    if (!condition)
        fail(rule);
}

}

#if defined(HALCYRA_FUZZ_REPLAY)
#define HALCYRA_FUZZ_TARGET(name)                                                        \
    static void name##Target(std::string_view);                                          \
    static const halcyra::fuzz::Registration name##Registration { #name, name##Target }; \
    static void name##Target(std::string_view input)
#else
#define HALCYRA_FUZZ_TARGET(name)                                                     \
    static void name##Target(std::string_view);                                       \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) \
    {                                                                                 \
        name##Target({ reinterpret_cast<const char*>(data), size });                  \
        return 0;                                                                     \
    }                                                                                 \
    static void name##Target(std::string_view input)
#endif

#include "CropContact.h"

#include <random>

namespace halcyra {

std::string makeContactID()
{
    static thread_local std::mt19937_64 generator { std::random_device {}() };
    std::uniform_int_distribution<unsigned> nibble(0, 15);
    std::string id;
    constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20)
            id += '-';
        auto value = nibble(generator);
        if (i == 12)
            value = 4; // version 4: random
        else if (i == 16)
            value = 8 | (value & 3); // RFC 4122 variant
        id += digits[value];
    }
    return id;
}

}

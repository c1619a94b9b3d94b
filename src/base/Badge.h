#pragma once

namespace halcyra {

// A narrow door: a method that takes `Badge<Caller>` can be called only by `Caller`, the one
// class that can make the badge, without giving it access to everything else.
template <typename Caller>
class Badge {
    friend Caller;
    Badge() = default;
};

}

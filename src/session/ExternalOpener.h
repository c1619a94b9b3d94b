#pragma once

#include "base/URL.h"

namespace halcyra {

// Opens a URL with the desktop's default handler (the user's browser for web links).
class ExternalOpener {
public:
    virtual ~ExternalOpener() = default;
    virtual void openExternally(const URL&) = 0;
};

}

#pragma once

#include "session/ExternalOpener.h"

namespace halcyra {

// Hands links to the desktop's default handler for their scheme (the user's browser).
class DesktopExternalOpener final : public ExternalOpener {
public:
    void openExternally(const URL&) override;
};

}

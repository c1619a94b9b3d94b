#pragma once

#include "session/OpenPanel.h"

namespace halcyra {

// The desktop's file chooser (through the portal where there is one) for a page's file input.
class FileChooserOpenPanel final : public OpenPanel {
public:
    void run(WebView&, const OpenPanelParameters&, OpenPanelCompletion) override;
};

}

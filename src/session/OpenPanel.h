#pragma once

#include "session/WebEngine.h"

namespace halcyra {

// Lets the user choose files for a page's file input. Files are always selectable; multiple
// selection and directories only when the page asks. The panel is attached to the view's window
// when it has one, otherwise it is modal for the application.
class OpenPanel {
public:
    virtual ~OpenPanel() = default;
    virtual void run(WebView&, const OpenPanelParameters&, OpenPanelCompletion) = 0;
};

}

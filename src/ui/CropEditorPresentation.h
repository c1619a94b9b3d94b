#pragma once

#include "base/Signal.h"
#include "ui/SingleWindow.h"

namespace halcyra {

class CropSession;
class GateController;
class RunLoop;
class WindowActivityMonitor;

// Opens the framing editor whenever the framing session is presented; the editor follows the
// session and closes itself after.
class CropEditorPresentation {
public:
    CropEditorPresentation(RunLoop&, CropSession&, GateController&, WindowActivityMonitor&, GtkApplication*);
    CropEditorPresentation(const CropEditorPresentation&) = delete;
    CropEditorPresentation& operator=(const CropEditorPresentation&) = delete;

private:
    void openUnlessOpen();

    RunLoop& m_runLoop;
    CropSession& m_session;
    GateController& m_lockController;
    WindowActivityMonitor& m_windowActivity;
    GtkApplication* m_application;
    SingleWindow m_editor;
    Connection m_observation;
};

}

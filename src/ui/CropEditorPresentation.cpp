#include "CropEditorPresentation.h"

#include "base/RunLoop.h"
#include "roster/CropSession.h"
#include "ui/CropEditorWindow.h"
#include "ui/WindowActivityMonitor.h"

namespace halcyra {

CropEditorPresentation::CropEditorPresentation(RunLoop& runLoop, CropSession& session, GateController& lockController, WindowActivityMonitor& windowActivity, GtkApplication* application)
    : m_runLoop(runLoop)
    , m_session(session)
    , m_lockController(lockController)
    , m_windowActivity(windowActivity)
    , m_application(application)
{
    // The session tells before it changes; the editor opens once the change is made.
    m_observation = m_session.observeWillChange([this] { m_runLoop.dispatch([this] { openUnlessOpen(); }); });
}

void CropEditorPresentation::openUnlessOpen()
{
    if (!m_session.isPresented() || m_editor.window())
        return;
    m_editor.present([this] {
        auto* editor = CropEditorWindow::create(m_session, m_lockController, m_application);
        // Adjusting photos is using Halcyra: it keeps the idle lock away as the main window does.
        m_windowActivity.watch(GTK_WIDGET(editor));
        return editor;
    });
}

}

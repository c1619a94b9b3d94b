#pragma once

#include "base/Signal.h"

#include <adwaita.h>
#include <string>
#include <vector>

namespace halcyra {

class CropSession;
class GateController;

// The photo framing editor: one tile per contact of the session, Cancel, Reset All and Export.
// While the application is locked the tiles give way to a "Locked" panel whose Unlock button
// runs the main window's unlock prompt. It follows the session and closes itself when the
// session is no longer presented. The window owns this object.
class CropEditorWindow {
public:
    static constexpr int defaultWidth = 980;
    static constexpr int defaultHeight = 820;

    static GtkWindow* create(CropSession&, GateController&, GtkApplication* = nullptr);

    ~CropEditorWindow();
    CropEditorWindow(const CropEditorWindow&) = delete;
    CropEditorWindow& operator=(const CropEditorWindow&) = delete;

private:
    CropEditorWindow(CropSession&, GateController&, GtkApplication*);

    void scheduleUpdate();
    void update();
    void rebuildTiles();
    void showError(const std::string&);

    CropSession& m_session;
    GateController& m_lockController;
    GtkWindow* m_window { nullptr };
    GtkWidget* m_title { nullptr };
    GtkWidget* m_cancel { nullptr };
    GtkWidget* m_resetAll { nullptr };
    GtkWidget* m_export { nullptr };
    GtkWidget* m_spinner { nullptr };
    GtkWidget* m_stack { nullptr };
    GtkWidget* m_scroller { nullptr };
    GtkWidget* m_grid { nullptr };
    GtkWidget* m_alert { nullptr };
    std::vector<std::string> m_shownIDs;
    guint m_updateSource { 0 };
    bool m_isAdjusting { false };
    Connection m_observation;
    Connection m_lockObservation;
};

}

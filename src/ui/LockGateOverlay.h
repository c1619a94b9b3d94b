#pragma once

#include "lock/GateView.h"
#include "platform/glib/GRefPtr.h"

#include <gtk/gtk.h>
#include <memory>

namespace halcyra {

class Authenticator;
class TouchIDGate;

// Lays the lock gate over `content` (the web view): a transparent widget that, while shown,
// receives every pointer event over the content and keeps key events from reaching it. Keys
// meant for widgets outside the content (a search field in the header bar) still work.
class LockGateOverlay final : public GateView {
public:
    LockGateOverlay(GtkWidget* content, Authenticator&);
    ~LockGateOverlay() override;
    LockGateOverlay(const LockGateOverlay&) = delete;
    LockGateOverlay& operator=(const LockGateOverlay&) = delete;

    // The overlay to put where `content` would have gone.
    GtkWidget* widget() const { return m_overlay.get(); }
    GtkWidget* gateWidget() const { return m_gateWidget; }
    const std::shared_ptr<TouchIDGate>& gate() const { return m_gate; }

    void setShown(bool) override;
    void claimFocus() override;
    void giveBackFocus() override;
    bool isApplicationActive() const override;
    void raiseWindow() override;

private:
    static gboolean keyCaptured(GtkEventControllerKey*, guint, guint, GdkModifierType, LockGateOverlay*);
    static void mapped(GtkWidget*, LockGateOverlay*);
    GtkWindow* window() const;

    GRefPtr<GtkWidget> m_overlay;
    GtkWidget* m_content { nullptr };
    GtkWidget* m_gateWidget { nullptr };
    GtkEventController* m_click { nullptr };
    GtkEventController* m_coveredKeys { nullptr };
    GtkEventController* m_gateKeys { nullptr };
    bool m_hadFocusWhenHidden { false };
    GWeakRef m_previousFocus;
    std::shared_ptr<TouchIDGate> m_gate;
};

}

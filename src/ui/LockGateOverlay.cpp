#include "LockGateOverlay.h"

#include "lock/TouchIDGate.h"

#include <utility>

namespace halcyra {

LockGateOverlay::LockGateOverlay(GtkWidget* content, Authenticator& authenticator)
    : m_content(content)
{
    g_weak_ref_init(&m_previousFocus, nullptr);
    m_overlay = adoptGRef(gtk_overlay_new());
    gtk_overlay_set_child(GTK_OVERLAY(m_overlay.get()), content);

    // A plain widget draws nothing but is picked by its bounds, so it takes every pointer
    // event over the content while it is visible.
    // To a screen reader the gate is the button that unlocks, with an action to press it.
    m_gateWidget = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_VERTICAL, "accessible-role", GTK_ACCESSIBLE_ROLE_BUTTON, nullptr));
    gtk_widget_set_halign(m_gateWidget, GTK_ALIGN_FILL);
    gtk_widget_set_valign(m_gateWidget, GTK_ALIGN_FILL);
    gtk_widget_set_focusable(m_gateWidget, TRUE);
    gtk_accessible_update_property(GTK_ACCESSIBLE(m_gateWidget), GTK_ACCESSIBLE_PROPERTY_LABEL, TouchIDGate::reason, -1);
    gtk_overlay_add_overlay(GTK_OVERLAY(m_overlay.get()), m_gateWidget);

    m_gate = std::make_shared<TouchIDGate>(*this, authenticator);

    auto* click = gtk_gesture_click_new();
    m_click = GTK_EVENT_CONTROLLER(click);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    g_signal_connect(click, "pressed", G_CALLBACK(+[](GtkGestureClick* gesture, int, double, double, LockGateOverlay* self) {
        gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
        if (gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture)) == GDK_BUTTON_PRIMARY)
            self->m_gate->pointerPressed();
    }),
        this);
    gtk_widget_add_controller(m_gateWidget, GTK_EVENT_CONTROLLER(click));

    // Scrolling over the gate must not scroll the page underneath.
    auto* scroll = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_BOTH_AXES);
    g_signal_connect(scroll, "scroll", G_CALLBACK(+[](GtkEventControllerScroll*, double, double) -> gboolean { return TRUE; }), nullptr);
    gtk_widget_add_controller(m_gateWidget, scroll);

    auto actions = adoptGRef(g_simple_action_group_new());
    auto unlock = adoptGRef(g_simple_action_new("unlock", nullptr));
    g_signal_connect(unlock.get(), "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, LockGateOverlay* self) { self->m_gate->pointerPressed(); }), this);
    g_action_map_add_action(G_ACTION_MAP(actions.get()), G_ACTION(unlock.get()));
    gtk_widget_insert_action_group(m_gateWidget, "gate", G_ACTION_GROUP(actions.get()));

    // Key strokes with the gate focused end here, Tab included; Return and Space press it, as
    // they would a button.
    auto* gateKeys = gtk_event_controller_key_new();
    m_gateKeys = gateKeys;
    g_signal_connect(gateKeys, "key-pressed", G_CALLBACK(+[](GtkEventControllerKey*, guint keyval, guint, GdkModifierType, LockGateOverlay* self) -> gboolean {
        if (keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter || keyval == GDK_KEY_space || keyval == GDK_KEY_KP_Space)
            self->m_gate->pointerPressed();
        return TRUE;
    }),
        this);
    g_signal_connect(gateKeys, "key-released", G_CALLBACK(+[](GtkEventControllerKey*, guint, guint, GdkModifierType) -> gboolean { return TRUE; }), nullptr);
    g_signal_connect(gateKeys, "modifiers", G_CALLBACK(+[](GtkEventControllerKey*, GdkModifierType) -> gboolean { return TRUE; }), nullptr);
    gtk_widget_add_controller(m_gateWidget, gateKeys);

    // Key strokes on their way to a widget inside the covered content (focus can get there by
    // other means than the gate) are stopped on the way down, and the gate takes the focus.
    auto* coveredKeys = gtk_event_controller_key_new();
    m_coveredKeys = coveredKeys;
    gtk_event_controller_set_propagation_phase(coveredKeys, GTK_PHASE_CAPTURE);
    g_signal_connect(coveredKeys, "key-pressed", G_CALLBACK(keyCaptured), this);
    g_signal_connect(coveredKeys, "key-released", G_CALLBACK(keyCaptured), this);
    gtk_widget_add_controller(m_overlay.get(), coveredKeys);

    g_signal_connect(m_gateWidget, "map", G_CALLBACK(mapped), this);
}

LockGateOverlay::~LockGateOverlay()
{
    // The widgets may outlive this object inside their window.
    g_signal_handlers_disconnect_by_data(m_gateWidget, this);
    g_signal_handlers_disconnect_by_data(m_click, this);
    g_signal_handlers_disconnect_by_data(m_coveredKeys, this);
    g_signal_handlers_disconnect_by_data(m_gateKeys, this);
    gtk_widget_insert_action_group(m_gateWidget, "gate", nullptr);
    m_gate = nullptr;
    g_weak_ref_clear(&m_previousFocus);
}

GtkWindow* LockGateOverlay::window() const
{
    auto* root = gtk_widget_get_root(m_gateWidget);
    return GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

gboolean LockGateOverlay::keyCaptured(GtkEventControllerKey*, guint, guint, GdkModifierType, LockGateOverlay* self)
{
    if (!self->m_gate->isShown())
        return FALSE;
    auto* window = self->window();
    if (!window)
        return FALSE;
    auto* focus = gtk_window_get_focus(window);
    bool isInCoveredContent = focus && (focus == self->m_content || gtk_widget_is_ancestor(focus, self->m_content));
    if (!isInCoveredContent)
        return FALSE;
    self->claimFocus();
    return TRUE;
}

void LockGateOverlay::mapped(GtkWidget*, LockGateOverlay* self)
{
    if (self->m_gate->isShown())
        self->claimFocus();
}

void LockGateOverlay::setShown(bool shown)
{
    // Hiding a focused widget moves the window's focus elsewhere; where it goes back to is the
    // gate's decision, so remember that the gate had it.
    auto* window = this->window();
    m_hadFocusWhenHidden = !shown && window && gtk_window_get_focus(window) == m_gateWidget;
    gtk_widget_set_visible(m_gateWidget, shown);
}

void LockGateOverlay::claimFocus()
{
    auto* window = this->window();
    if (!window)
        return;
    auto* focus = gtk_window_get_focus(window);
    if (focus == m_gateWidget)
        return;
    g_weak_ref_set(&m_previousFocus, focus);
    gtk_widget_grab_focus(m_gateWidget);
}

void LockGateOverlay::giveBackFocus()
{
    auto* window = this->window();
    auto previous = adoptGRef(GTK_WIDGET(g_weak_ref_get(&m_previousFocus)));
    g_weak_ref_set(&m_previousFocus, nullptr);
    bool gateHasFocus = std::exchange(m_hadFocusWhenHidden, false) || (window && gtk_window_get_focus(window) == m_gateWidget);
    if (window && gateHasFocus) {
        // Without a focus to return to, the keys go to the page the gate covered: left with no
        // focus, GTK would hand them to the first toolbar button.
        if (previous && gtk_widget_get_root(previous.get()) == GTK_ROOT(window))
            gtk_widget_grab_focus(previous.get());
        else
            gtk_widget_grab_focus(m_content);
    }
}

bool LockGateOverlay::isApplicationActive() const
{
    auto* window = this->window();
    return window && gtk_window_is_active(window);
}

void LockGateOverlay::raiseWindow()
{
    if (auto* window = this->window())
        gtk_window_present(window);
}

}

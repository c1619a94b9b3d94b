#include "MainToolbar.h"

#include "base/Localization.h"

#include <adwaita.h>

namespace halcyra {

namespace {

    const char* toolbarCSS = R"(
.count-bubble { padding: 2px 6px; }
.count-bubble label { font-weight: 600; font-feature-settings: "tnum"; font-size: 1.15em; }
.count-bubble image { -gtk-icon-size: 12px; }
)";

    void installStyleOnce()
    {
        static bool isInstalled = false;
        if (std::exchange(isInstalled, true))
            return;
        GRefPtr<GtkCssProvider> provider = adoptGRef(gtk_css_provider_new());
        gtk_css_provider_load_from_data(provider.get(), toolbarCSS, -1);
        gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider.get()), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }

    void setAccessibleLabel(GtkWidget* widget, const std::string& text)
    {
        gtk_widget_set_tooltip_text(widget, text.c_str());
        gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
    }

    // A click on a toolbar button leaves the keys where they were, in the page or on the lock
    // gate: a focused button would take the next key strokes, and Space on the lock button
    // right after an unlock would lock again.
    void keepFocusOnClick(GtkWidget* button)
    {
        gtk_widget_set_focus_on_click(button, FALSE);
    }

    GtkWidget* iconButton(const char* iconName, const char* tooltip)
    {
        auto* button = gtk_button_new_from_icon_name(iconName);
        setAccessibleLabel(button, tooltip);
        return button;
    }

    // A spinner at its natural size, centred in a fixed frame so the toolbar does not jump.
    GtkWidget* framed(GtkWidget* spinner, int width, int height)
    {
        auto* frame = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        gtk_widget_set_size_request(frame, width, height);
        gtk_widget_set_halign(spinner, GTK_ALIGN_CENTER);
        gtk_widget_set_valign(spinner, GTK_ALIGN_CENTER);
        gtk_widget_set_hexpand(spinner, TRUE);
        gtk_box_append(GTK_BOX(frame), spinner);
        return frame;
    }

    GtkWidget* bubbleButton(const CountBubble& bubble)
    {
        auto* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
        gtk_widget_set_valign(row, GTK_ALIGN_CENTER);
        gtk_box_append(GTK_BOX(row), gtk_image_new_from_icon_name(bubble.iconName));
        gtk_box_append(GTK_BOX(row), gtk_label_new(std::to_string(bubble.count).c_str()));
        auto* button = gtk_button_new();
        gtk_button_set_child(GTK_BUTTON(button), row);
        gtk_widget_add_css_class(button, "flat");
        gtk_widget_add_css_class(button, "count-bubble");
        setAccessibleLabel(button, bubble.accessibility);
        keepFocusOnClick(button);
        return button;
    }

}

MainToolbar::MainToolbar(GtkWidget* headerBar, const char* title, GMenuModel* primaryMenu, ToolbarActions actions)
    : m_actions(std::move(actions))
    , m_headerBar(headerBar)
{
    installStyleOnce();
    auto* header = ADW_HEADER_BAR(headerBar);

    auto* navigation = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_add_css_class(navigation, "linked");
    m_backButton = iconButton("go-previous-symbolic", _("Back"));
    m_forwardButton = iconButton("go-next-symbolic", _("Forward"));
    auto* homeButton = iconButton("go-home-symbolic", _("Home"));
    gtk_box_append(GTK_BOX(navigation), m_backButton);
    gtk_box_append(GTK_BOX(navigation), m_forwardButton);
    adw_header_bar_pack_start(header, navigation);
    adw_header_bar_pack_start(header, homeButton);
    connectClicked(m_backButton, &m_actions.goBack);
    connectClicked(m_forwardButton, &m_actions.goForward);
    connectClicked(homeButton, &m_actions.goHome);

    m_windowTitle = adw_window_title_new(title, "");
    adw_header_bar_set_title_widget(header, m_windowTitle);

    auto* menuButton = gtk_menu_button_new();
    gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menuButton), "open-menu-symbolic");
    gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menuButton), primaryMenu);
    gtk_menu_button_set_primary(GTK_MENU_BUTTON(menuButton), TRUE);
    setAccessibleLabel(menuButton, _("Main Menu"));
    adw_header_bar_pack_end(header, menuButton);

    // Packed at the end as one row, so that its order reads left to right as laid out here.
    auto* controls = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    m_rosterButton = gtk_button_new();
    auto* rosterContent = adw_button_content_new();
    adw_button_content_set_icon_name(ADW_BUTTON_CONTENT(rosterContent), "contact-new-symbolic");
    adw_button_content_set_label(ADW_BUTTON_CONTENT(rosterContent), _("Download .vcf"));
    gtk_button_set_child(GTK_BUTTON(m_rosterButton), rosterContent);
    gtk_widget_set_tooltip_text(m_rosterButton, _("Download the roster as contacts (.vcf)"));
    connectClicked(m_rosterButton, &m_actions.downloadRoster);
    m_rosterProgress = gtk_spinner_new();
    auto* rosterProgressFrame = framed(m_rosterProgress, 32, 28);
    m_lockButton = gtk_button_new();
    gtk_widget_set_size_request(m_lockButton, 38, 32);
    connectClicked(m_lockButton, &m_actions.toggleLock);
    m_busySpinner = gtk_spinner_new();
    auto* busySpinnerFrame = framed(m_busySpinner, 32, 32);
    m_bubbleBox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    for (auto* widget : { m_rosterButton, rosterProgressFrame, m_lockButton, busySpinnerFrame, m_bubbleBox })
        gtk_box_append(GTK_BOX(controls), widget);
    adw_header_bar_pack_end(header, controls);

    update({});
}

MainToolbar::~MainToolbar()
{
    // The header bar may outlive the toolbar; its buttons must not call into it afterwards.
    for (auto& [button, handler] : m_clickHandlers)
        g_signal_handler_disconnect(button, handler);
    for (auto* bubble = gtk_widget_get_first_child(m_bubbleBox); bubble; bubble = gtk_widget_get_next_sibling(bubble))
        g_signal_handlers_disconnect_by_data(bubble, this);
}

void MainToolbar::connectClicked(GtkWidget* button, std::function<void()>* action)
{
    keepFocusOnClick(button);
    auto handler = g_signal_connect_swapped(button, "clicked", G_CALLBACK(+[](std::function<void()>* action) {
        if (*action)
            (*action)();
    }),
        action);
    m_clickHandlers.emplace_back(button, handler);
}

void MainToolbar::update(const ToolbarState& state)
{
    adw_window_title_set_subtitle(ADW_WINDOW_TITLE(m_windowTitle), state.subtitle.c_str());
    gtk_widget_set_sensitive(m_backButton, state.canGoBack);
    gtk_widget_set_sensitive(m_forwardButton, state.canGoForward);

    gtk_widget_set_visible(m_rosterButton, state.isRosterPage && !state.rosterProgress);
    gtk_widget_set_visible(gtk_widget_get_parent(m_rosterProgress), state.rosterProgress.has_value());
    gtk_spinner_set_spinning(GTK_SPINNER(m_rosterProgress), state.rosterProgress.has_value());
    if (state.rosterProgress)
        setAccessibleLabel(m_rosterProgress, *state.rosterProgress);

    gtk_button_set_icon_name(GTK_BUTTON(m_lockButton), state.isLocked ? "changes-prevent-symbolic" : "changes-allow-symbolic");
    setAccessibleLabel(m_lockButton, state.isLocked ? _("Unlock Workday") : _("Lock Workday"));

    gtk_widget_set_visible(gtk_widget_get_parent(m_busySpinner), state.isBusy);
    gtk_spinner_set_spinning(GTK_SPINNER(m_busySpinner), state.isBusy);

    updateBubbles(state.bubbles);
}

void MainToolbar::updateBubbles(const std::vector<CountBubble>& bubbles)
{
    if (bubbles == m_shownBubbles)
        return;
    m_shownBubbles = bubbles;
    while (auto* child = gtk_widget_get_first_child(m_bubbleBox))
        gtk_box_remove(GTK_BOX(m_bubbleBox), child);
    for (auto& bubble : bubbles) {
        auto* button = bubbleButton(bubble);
        g_object_set_data(G_OBJECT(button), "halcyra-bubble-kind", GINT_TO_POINTER(static_cast<int>(bubble.kind)));
        g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkWidget* button, MainToolbar* toolbar) {
            auto kind = static_cast<BubbleKind>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "halcyra-bubble-kind")));
            if (toolbar->m_actions.openBubble)
                toolbar->m_actions.openBubble(kind);
        }),
            this);
        gtk_box_append(GTK_BOX(m_bubbleBox), button);
    }
}

}

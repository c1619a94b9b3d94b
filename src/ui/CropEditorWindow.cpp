#include "CropEditorWindow.h"

#include "CropTile.h"
#include "base/Localization.h"
#include "lock/GateController.h"
#include "platform/glib/GRefPtr.h"
#include "platform/gtk/SignalHandler.h"
#include "roster/CropSession.h"

#include <algorithm>

namespace halcyra {

namespace {

    constexpr int tileSpacing = 20;
    // Columns as wide as the window allows between these, as many as fit.
    constexpr int minimumTileWidth = 220;
    constexpr int maximumTileWidth = 340;
    constexpr const char* placeholderStyle = ".halcyra-photo-placeholder { background-color: alpha(@window_fg_color, 0.15); border-radius: 12px; }";

    // A column of the grid: it asks for the minimum width only, so that the grid fits as many
    // columns as it can, and lays its tile out at most the maximum wide, centred in whatever
    // width the grid gives it.
    GtkWidget* gridColumn(GtkWidget* tile)
    {
        auto* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_set_layout_manager(column,
            gtk_custom_layout_new(
                [](GtkWidget*) { return GTK_SIZE_REQUEST_HEIGHT_FOR_WIDTH; },
                [](GtkWidget* column, GtkOrientation orientation, int forSize, int* minimum, int* natural, int*, int*) {
                    if (orientation == GTK_ORIENTATION_HORIZONTAL) {
                        *minimum = *natural = minimumTileWidth;
                        return;
                    }
                    int width = forSize < 0 ? minimumTileWidth : std::min(forSize, maximumTileWidth);
                    gtk_widget_measure(gtk_widget_get_first_child(column), orientation, width, minimum, natural, nullptr, nullptr);
                },
                [](GtkWidget* column, int width, int height, int baseline) {
                    auto* tile = gtk_widget_get_first_child(column);
                    int tileWidth = std::min(width, maximumTileWidth);
                    gtk_widget_measure(tile, GTK_ORIENTATION_HORIZONTAL, height, nullptr, nullptr, nullptr, nullptr);
                    GtkAllocation allocation { (width - tileWidth) / 2, 0, tileWidth, height };
                    gtk_widget_size_allocate(tile, &allocation, baseline);
                }));
        gtk_box_append(GTK_BOX(column), tile);
        return column;
    }

    GtkWidget* statusPage(const char* title, const char* iconName, const char* description)
    {
        auto* page = adw_status_page_new();
        adw_status_page_set_title(ADW_STATUS_PAGE(page), title);
        adw_status_page_set_icon_name(ADW_STATUS_PAGE(page), iconName);
        adw_status_page_set_description(ADW_STATUS_PAGE(page), description);
        return page;
    }

}

GtkWindow* CropEditorWindow::create(CropSession& session, GateController& lockController, GtkApplication* application)
{
    auto* editor = new CropEditorWindow(session, lockController, application);
    g_object_set_data_full(G_OBJECT(editor->m_window), "halcyra-crop-editor", editor, [](gpointer data) { delete static_cast<CropEditorWindow*>(data); });
    return editor->m_window;
}

CropEditorWindow::CropEditorWindow(CropSession& session, GateController& lockController, GtkApplication* application)
    : m_session(session)
    , m_lockController(lockController)
{
    static bool hasStyle = false;
    if (!hasStyle) {
        auto provider = adoptGRef(gtk_css_provider_new());
        gtk_css_provider_load_from_data(provider.get(), placeholderStyle, -1);
        gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider.get()), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        hasStyle = true;
    }

    m_window = GTK_WINDOW(adw_window_new());
    if (application)
        gtk_window_set_application(m_window, application);
    gtk_window_set_default_size(m_window, defaultWidth, defaultHeight);

    auto* header = adw_header_bar_new();
    m_title = adw_window_title_new("", "");
    adw_header_bar_set_title_widget(ADW_HEADER_BAR(header), m_title);
    m_cancel = gtk_button_new_with_label(_("Cancel"));
    m_resetAll = gtk_button_new_with_label(_("Reset All"));
    gtk_widget_set_tooltip_text(m_resetAll, _("Return every photo to its automatic crop"));
    m_export = gtk_button_new_with_label(_("Export"));
    gtk_widget_add_css_class(m_export, "suggested-action");
    m_spinner = gtk_spinner_new();
    gtk_spinner_start(GTK_SPINNER(m_spinner));
    adw_header_bar_pack_start(ADW_HEADER_BAR(header), m_cancel);
    adw_header_bar_pack_end(ADW_HEADER_BAR(header), m_export);
    adw_header_bar_pack_end(ADW_HEADER_BAR(header), m_spinner);
    adw_header_bar_pack_end(ADW_HEADER_BAR(header), m_resetAll);
    g_signal_connect_swapped(m_cancel, "clicked", signalHandler(+[](CropSession* session) { session->cancel(); }), &m_session);
    g_signal_connect_swapped(m_resetAll, "clicked", signalHandler(+[](CropSession* session) { session->resetAll(); }), &m_session);
    g_signal_connect_swapped(m_export, "clicked", signalHandler(+[](CropSession* session) { session->exportContacts(); }), &m_session);

    m_grid = gtk_flow_box_new();
    gtk_flow_box_set_selection_mode(GTK_FLOW_BOX(m_grid), GTK_SELECTION_NONE);
    gtk_flow_box_set_homogeneous(GTK_FLOW_BOX(m_grid), TRUE);
    gtk_flow_box_set_column_spacing(GTK_FLOW_BOX(m_grid), tileSpacing);
    gtk_flow_box_set_row_spacing(GTK_FLOW_BOX(m_grid), tileSpacing);
    gtk_flow_box_set_min_children_per_line(GTK_FLOW_BOX(m_grid), 1);
    gtk_flow_box_set_max_children_per_line(GTK_FLOW_BOX(m_grid), 8);
    gtk_widget_set_valign(m_grid, GTK_ALIGN_START);
    for (auto* setMargin : { gtk_widget_set_margin_top, gtk_widget_set_margin_bottom, gtk_widget_set_margin_start, gtk_widget_set_margin_end })
        setMargin(m_grid, tileSpacing);
    m_scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(m_scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(m_scroller), m_grid);

    m_stack = gtk_stack_new();
    // While a photo is being moved, the wheel does not move the grid under it: taken on the
    // way down, before the scrolled window sees it.
    auto* wheel = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_BOTH_AXES);
    gtk_event_controller_set_propagation_phase(wheel, GTK_PHASE_CAPTURE);
    g_signal_connect(wheel, "scroll", signalHandler(+[](GtkEventControllerScroll*, double, double, CropEditorWindow* editor) -> gboolean { return editor->m_isAdjusting; }), this);
    gtk_widget_add_controller(m_stack, wheel);
    gtk_stack_add_named(GTK_STACK(m_stack), m_scroller, "tiles");
    gtk_stack_add_named(GTK_STACK(m_stack), statusPage(_("No Photos"), "avatar-default-symbolic", _("Download a course roster to frame its photos.")), "empty");
    auto* locked = statusPage(_("Locked"), "system-lock-screen-symbolic", _("Unlock Halcyra to continue adjusting photos."));
    auto* unlock = gtk_button_new_with_label(_("Unlock"));
    gtk_widget_set_halign(unlock, GTK_ALIGN_CENTER);
    for (auto* style : { "suggested-action", "pill" })
        gtk_widget_add_css_class(unlock, style);
    g_signal_connect_swapped(unlock, "clicked", signalHandler(+[](GateController* lockController) {
        if (auto* gate = lockController->gate())
            gate->authenticate(nullptr);
    }),
        &m_lockController);
    adw_status_page_set_child(ADW_STATUS_PAGE(locked), unlock);
    gtk_stack_add_named(GTK_STACK(m_stack), locked, "locked");

    auto* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(content), header);
    gtk_widget_set_vexpand(m_stack, TRUE);
    gtk_box_append(GTK_BOX(content), m_stack);
    adw_window_set_content(ADW_WINDOW(m_window), content);

    m_observation = m_session.observeWillChange([this] { scheduleUpdate(); });
    m_lockObservation = m_lockController.observeLockStateWillChange([this] { scheduleUpdate(); });
    update();
}

CropEditorWindow::~CropEditorWindow()
{
    if (m_updateSource)
        g_source_remove(m_updateSource);
}

void CropEditorWindow::scheduleUpdate()
{
    // Observers hear of a change before it happens; the window reads the session afterwards.
    if (m_updateSource)
        return;
    m_updateSource = g_idle_add_full(
        G_PRIORITY_DEFAULT, [](gpointer data) -> gboolean {
        auto* editor = static_cast<CropEditorWindow*>(data);
        editor->m_updateSource = 0;
        editor->update();
        return G_SOURCE_REMOVE; }, this, nullptr);
}

void CropEditorWindow::update()
{
    if (!m_session.isPresented()) {
        // Closing destroys this object; nothing may follow.
        gtk_window_destroy(m_window);
        return;
    }
    auto& title = m_session.title();
    auto windowTitle = title.empty() ? std::string(_("Adjust Photos")) : formatted(_("Adjust Photos \u2014 %s"), title);
    gtk_window_set_title(m_window, windowTitle.c_str());
    adw_window_title_set_title(ADW_WINDOW_TITLE(m_title), windowTitle.c_str());

    bool isExporting = m_session.isExporting();
    bool isEmpty = m_session.contacts().empty();
    gtk_widget_set_sensitive(m_cancel, !isExporting);
    gtk_widget_set_sensitive(m_resetAll, !isEmpty && !isExporting);
    bool isLocked = m_lockController.isLocked();
    gtk_widget_set_sensitive(m_export, !isEmpty && !isLocked);
    gtk_widget_set_visible(m_export, !isExporting);
    gtk_widget_set_visible(m_spinner, isExporting);
    gtk_stack_set_visible_child_name(GTK_STACK(m_stack), isLocked ? "locked" : isEmpty ? "empty"
                                                                                       : "tiles");

    std::vector<std::string> ids;
    for (auto& contact : m_session.contacts())
        ids.push_back(contact.id);
    if (ids != m_shownIDs) {
        m_shownIDs = std::move(ids);
        rebuildTiles();
    } else {
        gtk_widget_queue_draw(m_grid);
        for (auto* child = gtk_widget_get_first_child(m_grid); child; child = gtk_widget_get_next_sibling(child))
            gtk_widget_queue_draw(child);
    }

    if (auto& error = m_session.errorMessage(); error && !m_alert)
        showError(*error);
}

void CropEditorWindow::rebuildTiles()
{
    while (auto* child = gtk_widget_get_first_child(m_grid))
        gtk_flow_box_remove(GTK_FLOW_BOX(m_grid), child);
    for (auto& contact : m_session.contacts()) {
        auto* tile = CropTile::create(m_session, contact, [this](bool isAdjusting) {
            // While a photo is being moved, the grid stays put.
            m_isAdjusting = isAdjusting;
            gtk_scrolled_window_set_kinetic_scrolling(GTK_SCROLLED_WINDOW(m_scroller), !isAdjusting);
        });
        gtk_flow_box_append(GTK_FLOW_BOX(m_grid), gridColumn(tile));
    }
}

void CropEditorWindow::showError(const std::string& message)
{
    m_alert = adw_message_dialog_new(m_window, _("Couldn't Save the Roster"), message.c_str());
    adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(m_alert), "ok", _("OK"));
    g_signal_connect(m_alert, "response", signalHandler(+[](AdwMessageDialog*, const char*, CropEditorWindow* editor) {
        editor->m_alert = nullptr;
        editor->m_session.clearErrorMessage();
    }),
        this);
    gtk_window_present(GTK_WINDOW(m_alert));
}

}

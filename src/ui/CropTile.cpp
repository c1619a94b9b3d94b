#include "CropTile.h"

#include "base/Localization.h"
#include "platform/glib/GRefPtr.h"
#include "platform/gtk/SignalHandler.h"
#include "roster/CropSession.h"

#include <adwaita.h>
#include <algorithm>
#include <cmath>

namespace halcyra {

namespace {

    constexpr double cornerRadius = 12;
    constexpr double veilOpacity = 0.8;
    constexpr double ringWidth = 2;
    constexpr double minimumDragDistance = 2;
    constexpr double maximumPhotoWidth = 440;
    constexpr int minimumPhotoWidth = 200;

    std::string fullName(const Student& student)
    {
        std::string name = student.first;
        if (!student.last.empty())
            name += (name.empty() ? "" : " ") + student.last;
        return name;
    }

    // The first character (not byte) of each non-empty name.
    std::string initials(const Student& student)
    {
        std::string result;
        for (auto* name : { &student.first, &student.last }) {
            if (name->empty())
                continue;
            auto* end = g_utf8_find_next_char(name->c_str(), nullptr);
            result.append(name->c_str(), end ? end - name->c_str() : name->size());
        }
        return result;
    }

    std::string joinedSections(const Student& student)
    {
        std::string text;
        for (auto& section : student.sections)
            text += (text.empty() ? "" : ", ") + section;
        return text;
    }

    void roundedRectangle(cairo_t* cr, double side)
    {
        cairo_new_sub_path(cr);
        cairo_arc(cr, side - cornerRadius, cornerRadius, cornerRadius, -M_PI / 2, 0);
        cairo_arc(cr, side - cornerRadius, side - cornerRadius, cornerRadius, 0, M_PI / 2);
        cairo_arc(cr, cornerRadius, side - cornerRadius, cornerRadius, M_PI / 2, M_PI);
        cairo_arc(cr, cornerRadius, cornerRadius, cornerRadius, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr);
    }

    cairo_surface_t* surfaceFromImage(const DisplayImage& image)
    {
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height);
        auto stride = cairo_image_surface_get_stride(surface);
        auto* pixels = cairo_image_surface_get_data(surface);
        for (int y = 0; y < image.height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(pixels + std::size_t(y) * stride);
            const auto* source = image.rgb.data() + std::size_t(y) * image.width * 3;
            for (int x = 0; x < image.width; ++x)
                row[x] = (std::uint32_t(source[3 * x]) << 16) | (std::uint32_t(source[3 * x + 1]) << 8) | source[3 * x + 2];
        }
        cairo_surface_mark_dirty(surface);
        return surface;
    }

}

GtkWidget* CropTile::create(CropSession& session, const CropContact& contact, std::function<void(bool)> onAdjustingChange)
{
    auto* tile = new CropTile(session, contact, std::move(onAdjustingChange));
    g_object_set_data_full(G_OBJECT(tile->m_root), "halcyra-crop-tile", tile, [](gpointer data) { delete static_cast<CropTile*>(data); });
    return tile->m_root;
}

CropTile::CropTile(CropSession& session, const CropContact& contact, std::function<void(bool)> onAdjustingChange)
    : m_session(session)
    , m_contactID(contact.id)
    , m_onAdjustingChange(std::move(onAdjustingChange))
{
    m_root = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    auto name = fullName(contact.student);

    GtkWidget* photoArea;
    if (contact.display && contact.display->width > 0 && contact.display->height > 0) {
        m_imageWidth = contact.display->width;
        m_imageHeight = contact.display->height;
        m_surface = surfaceFromImage(*contact.display);
        // A picture to a screen reader, whose description tells the keys that frame it.
        m_photo = GTK_WIDGET(g_object_new(GTK_TYPE_DRAWING_AREA, "accessible-role", GTK_ACCESSIBLE_ROLE_IMG, nullptr));
        gtk_drawing_area_set_draw_func(
            GTK_DRAWING_AREA(m_photo), [](GtkDrawingArea*, cairo_t* cr, int width, int height, gpointer data) { static_cast<CropTile*>(data)->draw(cr, width, height); }, this, nullptr);
        gtk_widget_set_focusable(m_photo, TRUE);
        gtk_accessible_update_property(GTK_ACCESSIBLE(m_photo), GTK_ACCESSIBLE_PROPERTY_LABEL, name.c_str(),
            GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, _("Plus and minus zoom, the arrow keys move the framing, Backspace or a double-tap resets it."), -1);
        photoArea = m_photo;
        installGestures();
        installActions();
    } else {
        photoArea = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
        gtk_widget_add_css_class(photoArea, "halcyra-photo-placeholder");
        gtk_widget_set_valign(photoArea, GTK_ALIGN_FILL);
        auto* letters = gtk_label_new(initials(contact.student).c_str());
        gtk_widget_add_css_class(letters, "title-1");
        gtk_widget_add_css_class(letters, "dim-label");
        gtk_widget_set_vexpand(letters, TRUE);
        gtk_widget_set_valign(letters, GTK_ALIGN_END);
        auto* caption = gtk_label_new(_("No photo"));
        gtk_widget_add_css_class(caption, "caption");
        gtk_widget_add_css_class(caption, "dim-label");
        gtk_widget_set_vexpand(caption, TRUE);
        gtk_widget_set_valign(caption, GTK_ALIGN_START);
        gtk_box_append(GTK_BOX(photoArea), letters);
        gtk_box_append(GTK_BOX(photoArea), caption);
        gtk_accessible_update_property(GTK_ACCESSIBLE(photoArea), GTK_ACCESSIBLE_PROPERTY_LABEL, formatted(_("%s, no photo"), name).c_str(), -1);
        gtk_accessible_update_state(GTK_ACCESSIBLE(letters), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
        gtk_accessible_update_state(GTK_ACCESSIBLE(caption), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
    }
    // A square photo area, as wide as the tile allows up to 440 points: as high as it is wide.
    auto* square = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_layout_manager(square,
        gtk_custom_layout_new(
            [](GtkWidget*) { return GTK_SIZE_REQUEST_HEIGHT_FOR_WIDTH; },
            [](GtkWidget*, GtkOrientation orientation, int forSize, int* minimum, int* natural, int*, int*) {
                *minimum = *natural = orientation == GTK_ORIENTATION_VERTICAL && forSize > 0 ? std::min(double(forSize), maximumPhotoWidth) : minimumPhotoWidth;
            },
            [](GtkWidget* square, int width, int height, int baseline) {
                auto* photo = gtk_widget_get_first_child(square);
                gtk_widget_measure(photo, GTK_ORIENTATION_HORIZONTAL, height, nullptr, nullptr, nullptr, nullptr);
                GtkAllocation allocation { 0, 0, width, height };
                gtk_widget_size_allocate(photo, &allocation, baseline);
            }));
    gtk_box_append(GTK_BOX(square), photoArea);
    gtk_box_append(GTK_BOX(m_root), square);

    auto* nameLabel = gtk_label_new(name.c_str());
    gtk_widget_add_css_class(nameLabel, "heading");
    auto* sectionsLabel = gtk_label_new(joinedSections(contact.student).c_str());
    gtk_widget_add_css_class(sectionsLabel, "caption");
    gtk_widget_add_css_class(sectionsLabel, "dim-label");
    for (auto* label : { nameLabel, sectionsLabel }) {
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        // A long name asks for no more width: the editor's grid counts its columns from what
        // tiles ask for, and a tile takes whatever width its column has.
        gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
        gtk_accessible_update_state(GTK_ACCESSIBLE(label), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
        gtk_box_append(GTK_BOX(m_root), label);
    }
}

CropTile::~CropTile()
{
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

const CropContact* CropTile::contact() const
{
    for (auto& contact : m_session.contacts()) {
        if (contact.id == m_contactID)
            return &contact;
    }
    return nullptr;
}

double CropTile::tileSide() const
{
    return std::min({ double(gtk_widget_get_width(m_photo)), double(gtk_widget_get_height(m_photo)), maximumPhotoWidth });
}

CropRect CropTile::shownCrop() const
{
    if (m_manipulation)
        return gesturePreview(*m_manipulation, m_imageWidth, m_imageHeight, tileSide());
    auto* current = contact();
    return current ? current->crop : defaultCrop;
}

void CropTile::draw(cairo_t* cr, int width, int height)
{
    double side = std::min({ double(width), double(height), maximumPhotoWidth });
    if (side <= 0 || !m_surface)
        return;
    cairo_translate(cr, (width - side) / 2, (height - side) / 2);
    roundedRectangle(cr, side);
    cairo_clip(cr);

    auto crop = shownCrop();
    double shorter = std::min(m_imageWidth, m_imageHeight);
    double holeDiameter = holeFraction * side;
    double k = holeDiameter / (crop.side * shorter);
    double centerX = side / 2 + (0.5 - crop.center.x) * m_imageWidth * k;
    double centerY = side / 2 + (0.5 - crop.center.y) * m_imageHeight * k;
    cairo_save(cr);
    cairo_translate(cr, centerX - m_imageWidth * k / 2, centerY - m_imageHeight * k / 2);
    cairo_scale(cr, k, k);
    cairo_set_source_surface(cr, m_surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);

    bool isDark = adw_style_manager_get_dark(adw_style_manager_get_default());
    double veil = isDark ? 0 : 1;
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_rectangle(cr, 0, 0, side, side);
    cairo_new_sub_path(cr);
    cairo_arc(cr, side / 2, side / 2, holeDiameter / 2, 0, 2 * M_PI);
    cairo_set_source_rgba(cr, veil, veil, veil, veilOpacity);
    cairo_fill(cr);

    cairo_new_path(cr);
    cairo_arc(cr, side / 2, side / 2, holeDiameter / 2, 0, 2 * M_PI);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, ringWidth);
    cairo_stroke(cr);
}

void CropTile::beginManipulation(double x, double y)
{
    if (m_manipulation)
        return;
    auto* current = contact();
    // The drawing is centred in the area; gestures work in the drawn square's coordinates.
    double side = tileSide();
    double offsetX = (gtk_widget_get_width(m_photo) - side) / 2, offsetY = (gtk_widget_get_height(m_photo) - side) / 2;
    Manipulation::Point start { x - offsetX, y - offsetY };
    m_manipulation = Manipulation { current ? current->crop : defaultCrop, start, start, 1 };
    if (m_onAdjustingChange)
        m_onAdjustingChange(true);
}

void CropTile::endGesture(bool& isRunning, bool otherIsRunning)
{
    isRunning = false;
    if (otherIsRunning || !m_manipulation)
        return;
    auto committed = gesturePreview(*m_manipulation, m_imageWidth, m_imageHeight, tileSide());
    m_manipulation.reset();
    m_session.setCrop(m_contactID, committed);
    if (m_onAdjustingChange)
        m_onAdjustingChange(false);
    gtk_widget_queue_draw(m_photo);
}

void CropTile::installGestures()
{
    auto* drag = gtk_gesture_drag_new();
    g_signal_connect(drag, "drag-update", signalHandler(+[](GtkGestureDrag* gesture, double offsetX, double offsetY, CropTile* tile) {
        if (!tile->m_manipulation && std::hypot(offsetX, offsetY) < minimumDragDistance)
            return;
        double startX, startY;
        gtk_gesture_drag_get_start_point(gesture, &startX, &startY);
        // Claimed, so that the grid does not scroll while the photo moves.
        gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
        tile->beginManipulation(startX, startY);
        tile->m_manipulation->anchor = { tile->m_manipulation->startAnchor.x + offsetX, tile->m_manipulation->startAnchor.y + offsetY };
        tile->m_isMoving = true;
        gtk_widget_queue_draw(tile->m_photo);
    }),
        this);
    g_signal_connect(drag, "drag-end", signalHandler(+[](GtkGestureDrag*, double, double, CropTile* tile) { tile->endGesture(tile->m_isMoving, tile->m_isZooming); }), this);
    gtk_widget_add_controller(m_photo, GTK_EVENT_CONTROLLER(drag));

    auto* zoom = gtk_gesture_zoom_new();
    g_signal_connect(zoom, "scale-changed", signalHandler(+[](GtkGestureZoom* gesture, double scale, CropTile* tile) {
        if (std::abs(scale - 1) < 0.01 && !tile->m_manipulation)
            return;
        double x, y;
        gtk_gesture_get_bounding_box_center(GTK_GESTURE(gesture), &x, &y);
        tile->beginManipulation(x, y);
        tile->m_manipulation->scale = scale;
        tile->m_isZooming = true;
        gtk_widget_queue_draw(tile->m_photo);
    }),
        this);
    g_signal_connect(zoom, "end", signalHandler(+[](GtkGesture*, GdkEventSequence*, CropTile* tile) { tile->endGesture(tile->m_isZooming, tile->m_isMoving); }), this);
    gtk_widget_add_controller(m_photo, GTK_EVENT_CONTROLLER(zoom));

    auto* scroll = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_VERTICAL);
    g_signal_connect(scroll, "scroll", signalHandler(+[](GtkEventControllerScroll* controller, double, double dy, CropTile* tile) -> gboolean {
        auto modifiers = gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(controller));
        if (!(modifiers & GDK_CONTROL_MASK) || dy == 0)
            return FALSE;
        tile->adjust(dy < 0 ? CropAdjustment::zoomIn : CropAdjustment::zoomOut);
        return TRUE;
    }),
        this);
    gtk_widget_add_controller(m_photo, GTK_EVENT_CONTROLLER(scroll));

    auto* click = gtk_gesture_click_new();
    g_signal_connect(click, "pressed", signalHandler(+[](GtkGestureClick*, int count, double, double, CropTile* tile) {
        gtk_widget_grab_focus(tile->m_photo);
        if (count == 2)
            tile->reset();
    }),
        this);
    gtk_widget_add_controller(m_photo, GTK_EVENT_CONTROLLER(click));
}

void CropTile::installActions()
{
    struct Entry {
        const char* name;
        const char* accelerator;
        std::optional<CropAdjustment> adjustment;
    };
    static const Entry entries[] = {
        { "zoom-in", "plus", CropAdjustment::zoomIn },
        { "zoom-out", "minus", CropAdjustment::zoomOut },
        { "move-up", "Up", CropAdjustment::moveUp },
        { "move-down", "Down", CropAdjustment::moveDown },
        { "move-left", "Left", CropAdjustment::moveLeft },
        { "move-right", "Right", CropAdjustment::moveRight },
        { "reset-framing", "BackSpace", std::nullopt },
    };
    auto group = adoptGRef(g_simple_action_group_new());
    auto* shortcuts = gtk_shortcut_controller_new();
    for (auto& entry : entries) {
        auto action = adoptGRef(g_simple_action_new(entry.name, nullptr));
        g_object_set_data(G_OBJECT(action.get()), "halcyra-entry", const_cast<Entry*>(&entry));
        g_signal_connect(action.get(), "activate", signalHandler(+[](GSimpleAction* action, GVariant*, CropTile* tile) {
            auto* entry = static_cast<Entry*>(g_object_get_data(G_OBJECT(action), "halcyra-entry"));
            if (entry->adjustment)
                tile->adjust(*entry->adjustment);
            else
                tile->reset();
        }),
            this);
        g_action_map_add_action(G_ACTION_MAP(group.get()), G_ACTION(action.get()));
        auto actionName = std::string("tile.") + entry.name;
        gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(shortcuts),
            gtk_shortcut_new(gtk_shortcut_trigger_parse_string(entry.accelerator), gtk_named_action_new(actionName.c_str())));
    }
    gtk_widget_insert_action_group(m_photo, "tile", G_ACTION_GROUP(group.get()));
    gtk_widget_add_controller(m_photo, shortcuts);
}

void CropTile::adjust(CropAdjustment adjustment)
{
    auto* current = contact();
    if (!current || m_imageWidth <= 0 || m_imageHeight <= 0)
        return;
    m_session.setCrop(m_contactID, adjustedCrop(adjustment, current->crop, m_imageWidth, m_imageHeight));
    gtk_widget_queue_draw(m_photo);
}

void CropTile::reset()
{
    m_session.reset(m_contactID);
    gtk_widget_queue_draw(m_photo);
}

}

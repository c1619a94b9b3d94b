#pragma once

#include "roster/CropContact.h"
#include "roster/Manipulation.h"

#include <cairo.h>
#include <functional>
#include <gtk/gtk.h>
#include <optional>
#include <string>

namespace halcyra {

class CropSession;

// One student in the framing editor: the photo behind the circular hole (or initials when
// there is no photo), the name and the sections. Dragging moves the framing, pinching or
// Ctrl+scrolling zooms it, a double click resets it. The widget owns this object.
class CropTile {
public:
    static GtkWidget* create(CropSession&, const CropContact&, std::function<void(bool isAdjusting)> onAdjustingChange);

    ~CropTile();
    CropTile(const CropTile&) = delete;
    CropTile& operator=(const CropTile&) = delete;

private:
    CropTile(CropSession&, const CropContact&, std::function<void(bool)>);

    const CropContact* contact() const;
    CropRect shownCrop() const;
    double tileSide() const;
    void draw(cairo_t*, int width, int height);
    void installGestures();
    void installActions();
    void beginManipulation(double x, double y);
    void endGesture(bool& isRunning, bool otherIsRunning);
    void adjust(CropAdjustment);
    void reset();

    CropSession& m_session;
    std::string m_contactID;
    std::function<void(bool)> m_onAdjustingChange;
    GtkWidget* m_root { nullptr };
    GtkWidget* m_photo { nullptr };
    cairo_surface_t* m_surface { nullptr };
    int m_imageWidth { 0 };
    int m_imageHeight { 0 };
    std::optional<Manipulation> m_manipulation;
    bool m_isMoving { false };
    bool m_isZooming { false };
};

}

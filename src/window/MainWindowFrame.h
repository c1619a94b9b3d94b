#pragma once

#include <optional>
#include <vector>

namespace halcyra {

class SettingsStore;

// A window frame or a monitor's work area, in screen points.
struct Rect {
    double x { 0 };
    double y { 0 };
    double width { 0 };
    double height { 0 };

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool operator==(const Rect&) const = default;
};

// The saved frame moved fully onto the work area it overlaps most (the first of equal ones) and
// shrunk to fit; nothing when it is degenerate or shows less than 100 x 100 on every work area.
std::optional<Rect> validatedMainWindowFrame(const Rect& saved, const std::vector<Rect>& workAreas);

// The frame stored under "mainWindowFrameX/Y/W/H", present once "mainWindowFrameX" was written;
// a missing key among the other three reads as 0.
std::optional<Rect> savedMainWindowFrame(const SettingsStore&);
void saveMainWindowFrame(SettingsStore&, const Rect&);

}

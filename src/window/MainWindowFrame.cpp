#include "MainWindowFrame.h"

#include "base/SettingsStore.h"

#include <algorithm>

namespace halcyra {

namespace {

    constexpr const char* frameXKey = "mainWindowFrameX";
    constexpr const char* frameYKey = "mainWindowFrameY";
    constexpr const char* frameWidthKey = "mainWindowFrameW";
    constexpr const char* frameHeightKey = "mainWindowFrameH";
    constexpr double minimumVisibleSide = 100;

    Rect intersection(const Rect& a, const Rect& b)
    {
        double minX = std::max(a.x, b.x);
        double minY = std::max(a.y, b.y);
        double maxX = std::min(a.maxX(), b.maxX());
        double maxY = std::min(a.maxY(), b.maxY());
        if (maxX <= minX || maxY <= minY)
            return {};
        return { minX, minY, maxX - minX, maxY - minY };
    }

}

std::optional<Rect> validatedMainWindowFrame(const Rect& saved, const std::vector<Rect>& workAreas)
{
    if (saved.width <= 0 || saved.height <= 0)
        return std::nullopt;

    const Rect* chosenArea = nullptr;
    Rect chosenOverlap;
    for (auto& area : workAreas) {
        auto overlap = intersection(saved, area);
        if (!chosenArea || overlap.width * overlap.height > chosenOverlap.width * chosenOverlap.height) {
            chosenArea = &area;
            chosenOverlap = overlap;
        }
    }
    if (!chosenArea || chosenOverlap.width < minimumVisibleSide || chosenOverlap.height < minimumVisibleSide)
        return std::nullopt;

    auto& area = *chosenArea;
    Rect frame;
    frame.width = std::min(saved.width, area.width);
    frame.height = std::min(saved.height, area.height);
    frame.x = std::min(std::max(saved.x, area.x), area.maxX() - frame.width);
    frame.y = std::min(std::max(saved.y, area.y), area.maxY() - frame.height);
    return frame;
}

std::optional<Rect> savedMainWindowFrame(const SettingsStore& settings)
{
    auto x = settings.number(frameXKey);
    if (!x)
        return std::nullopt;
    return Rect { *x, settings.number(frameYKey).value_or(0), settings.number(frameWidthKey).value_or(0),
        settings.number(frameHeightKey).value_or(0) };
}

void saveMainWindowFrame(SettingsStore& settings, const Rect& frame)
{
    settings.setNumber(frameXKey, frame.x);
    settings.setNumber(frameYKey, frame.y);
    settings.setNumber(frameWidthKey, frame.width);
    settings.setNumber(frameHeightKey, frame.height);
}

}

#include "base/SettingsStore.h"
#include "window/MainWindowFrame.h"
#include "window/RenderingChoice.h"

#include <gtest/gtest.h>

using namespace halcyra;

TEST(MainWindowFrame, savedFrameIsPlacedOnTheWorkAreaItOverlapsMost)
{
    const Rect left { 0, 0, 1440, 900 };
    const Rect right { 1440, 0, 1440, 900 };
    struct Case {
        const char* name;
        Rect saved;
        std::vector<Rect> workAreas;
        std::optional<Rect> expected;
    } cases[] = {
        { "fits: kept as saved", { 100, 50, 800, 600 }, { left }, Rect { 100, 50, 800, 600 } },
        { "too wide: shrunk to the area, at its left edge", { 200, 0, 2000, 700 }, { left }, Rect { 0, 0, 1440, 700 } },
        { "hanging off the bottom right: pulled in", { 1000, 700, 800, 600 }, { left }, Rect { 640, 300, 800, 600 } },
        { "equal overlap on two areas: the first wins", { 1040, 0, 800, 600 }, { left, right }, Rect { 640, 0, 800, 600 } },
        { "larger overlap on the second area wins", { 1340, 0, 800, 600 }, { left, right }, Rect { 1440, 0, 800, 600 } },
        { "99 x 400 visible: ignored", { 1341, 0, 800, 400 }, { left }, std::nullopt },
        { "100 x 100 visible: kept", { 1340, 800, 800, 600 }, { left }, Rect { 640, 300, 800, 600 } },
        { "no monitors", { 0, 0, 800, 600 }, {}, std::nullopt },
        { "zero width", { 0, 0, 0, 600 }, { left }, std::nullopt },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(validatedMainWindowFrame(testCase.saved, testCase.workAreas), testCase.expected) << testCase.name;
}

TEST(MainWindowFrame, frameIsReadOnlyOnceItsOriginWasSavedAndMissingKeysReadAsZero)
{
    MemorySettingsStore settings;
    EXPECT_EQ(savedMainWindowFrame(settings), std::nullopt);

    saveMainWindowFrame(settings, { 10, 20, 800, 900 });
    EXPECT_EQ(savedMainWindowFrame(settings), (Rect { 10, 20, 800, 900 }));

    settings.removeValue("mainWindowFrameH");
    EXPECT_EQ(savedMainWindowFrame(settings), (Rect { 10, 20, 800, 0 }));
    settings.removeValue("mainWindowFrameX");
    EXPECT_EQ(savedMainWindowFrame(settings), std::nullopt);
}

// A desktop without a GPU (a virtual machine, a remote session) gets CPU drawing, which holds no
// GL buffers; a real GPU keeps GL, and so does a driver that could not be told.
TEST(RenderingChoice, softwareGLDriversDrawWithoutGLAndRealGPUsKeepIt)
{
    struct Case {
        std::optional<std::string> driverName;
        bool usesGL;
    } cases[] = {
        { "swrast", false },
        { "kms_swrast", false },
        { "llvmpipe (LLVM 15.0.6, 256 bits)", false },
        { "Mesa softpipe", false },
        { "iris", true },
        { "radeonsi", true },
        { "NVIDIA", true },
        { std::nullopt, true },
    };
    for (auto& testCase : cases) {
        auto choice = chooseRendering(testCase.driverName);
        EXPECT_EQ(choice.drawsWindowWithGL, testCase.usesGL) << testCase.driverName.value_or("unknown");
        EXPECT_EQ(choice.compositesPages, testCase.usesGL) << testCase.driverName.value_or("unknown");
    }
}

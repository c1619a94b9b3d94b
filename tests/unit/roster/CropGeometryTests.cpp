#include "roster/CropGeometry.h"
#include "roster/PhotoFramer.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    void expectRect(const CropRect& actual, const CropRect& expected)
    {
        EXPECT_NEAR(actual.center.x, expected.center.x, 1e-9);
        EXPECT_NEAR(actual.center.y, expected.center.y, 1e-9);
        EXPECT_NEAR(actual.side, expected.side, 1e-9);
    }

    TEST(CropGeometry, clampedKeepsTheSquareInsideTheImageAndAtLeastATenth)
    {
        struct Case {
            const char* name;
            CropRect rect;
            double width, height;
            CropRect expected;
        };
        const Case cases[] = {
            { "inside stays", { { 0.5, 0.5 }, 0.5 }, 800, 600, { { 0.5, 0.5 }, 0.5 } },
            { "tiny side grows to a tenth", { { 0.5, 0.5 }, 0.05 }, 800, 600, { { 0.5, 0.5 }, 0.1 } },
            { "zero side grows to a tenth", { { 0.5, 0.5 }, 0 }, 800, 600, { { 0.5, 0.5 }, 0.1 } },
            { "oversized side shrinks to the whole", { { 0.5, 0.5 }, 1.5 }, 800, 600, { { 0.5, 0.5 }, 1.0 } },
            { "top edge pushes down", { { 0.5, 0.0 }, 0.5 }, 800, 600, { { 0.5, 0.25 }, 0.5 } },
            { "lower right corner pulls in", { { 1.0, 1.0 }, 0.2 }, 800, 600, { { 740.0 / 800, 0.9 }, 0.2 } },
            { "whole side is centred on the short axis", { { 0.1, 0.9 }, 1.0 }, 1000, 500, { { 0.25, 0.5 }, 1.0 } },
            { "no pixels leave it unchanged", { { 2.0, -1.0 }, 3.0 }, 0, 600, { { 2.0, -1.0 }, 3.0 } },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            expectRect(clamped(testCase.rect, testCase.width, testCase.height), testCase.expected);
        }
    }

    TEST(CropGeometry, faceFillsTheSquareAsAHeadOfOneAndAHalfFaceHeights)
    {
        struct Case {
            const char* name;
            PixelBox face;
            CropRect expected;
        };
        const Case cases[] = {
            // Head 150, centre y 400 - 75 = 325, side 150 / 0.8 = 187.5 of 600.
            { "100-pixel face ending at y 400", { 350, 300, 100, 100 }, { { 0.5, 325.0 / 600 }, 0.3125 } },
            { "face at the top is pushed down", { 350, 0, 100, 100 }, { { 0.5, 93.75 / 600 }, 0.3125 } },
            { "tiny face still gets a tenth", { 395, 295, 10, 10 }, { { 0.5, (305 - 7.5) / 600 }, 0.1 } },
            { "face larger than the image gets the whole", { 100, 0, 600, 600 }, { { 0.5, 0.5 }, 1.0 } },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            expectRect(faceCrop(testCase.face, 800, 600), testCase.expected);
        }
    }

    TEST(CropGeometry, largestBoxWinsAndTheFirstAmongEquals)
    {
        EXPECT_FALSE(largestBox({}));
        auto first = largestBox({ { 1, 0, 10, 10 }, { 2, 0, 20, 5 }, { 3, 0, 5, 5 } });
        EXPECT_EQ(first->x, 1);
        auto later = largestBox({ { 1, 0, 10, 10 }, { 2, 0, 11, 10 } });
        EXPECT_EQ(later->x, 2);
    }

    class ScriptedDetector final : public PhotoFramer {
    public:
        std::vector<PixelBox> faceBoxes, bodyBoxes;
        std::optional<DisplayImage> displayImage(std::string_view, std::optional<int>) override { return std::nullopt; }
        std::vector<PixelBox> faces(const DisplayImage&) override { return faceBoxes; }
        std::vector<PixelBox> upperBodies(const DisplayImage&) override { return bodyBoxes; }
        std::optional<std::string> cropJPEG(std::string_view, const CropRect&) override { return std::nullopt; }
    };

    TEST(CropGeometry, detectionFallsBackFromFacesToBodiesToTheCentredSquare)
    {
        DisplayImage image { 800, 600, {} };
        ScriptedDetector detector;
        detector.bodyBoxes = { { 100, 50, 200, 400 } };
        detector.faceBoxes = { { 0, 0, 20, 20 }, { 350, 300, 100, 100 } };
        expectRect(detectCrop(detector, image), { { 0.5, 325.0 / 600 }, 0.3125 });
        detector.faceBoxes.clear();
        expectRect(detectCrop(detector, image), { { 200.0 / 800, 150.0 / 600 }, 200.0 / 600 });
        detector.bodyBoxes.clear();
        expectRect(detectCrop(detector, image), defaultCrop);
    }

    TEST(CropGeometry, cutIsTheWholePixelSquareAndThePictureAtMost512)
    {
        struct Case {
            const char* name;
            CropRect rect;
            int width, height;
            CropCut expected;
        };
        const Case cases[] = {
            { "landscape at side 1", defaultCrop, 1000, 500, { 250, 0, 500, 500, 500 } },
            // A 299-pixel square starting at x 100.5 widens to 300 pixels.
            { "uneven cut takes the smaller side", { { 0.25, 0.5 }, 1.0 }, 1000, 299, { 100, 0, 300, 299, 299 } },
            { "large photo is scaled to 512", defaultCrop, 3000, 2000, { 500, 0, 2000, 2000, 512 } },
            { "a tenth of a small photo", { { 0.5, 0.5 }, 0.1 }, 100, 100, { 45, 45, 10, 10, 10 } },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            auto cut = cropCut(testCase.rect, testCase.width, testCase.height);
            ASSERT_TRUE(cut);
            EXPECT_EQ(std::tie(cut->x, cut->y, cut->width, cut->height, cut->outputSide),
                std::tie(testCase.expected.x, testCase.expected.y, testCase.expected.width, testCase.expected.height, testCase.expected.outputSide));
        }
        EXPECT_FALSE(cropCut(defaultCrop, 0, 100));
    }

}
}

#include "roster/CropGeometry.h"
#include "roster/CropSession.h"
#include "roster/ImageHeader.h"
#include "roster/Manipulation.h"
#include "support/FakePhotoFramer.h"
#include "support/LogCapture.h"
#include "support/VirtualRunLoop.h"

#include <gtest/gtest.h>

namespace halcyra {
namespace {

    void expectRect(const CropRect& actual, const CropRect& expected)
    {
        EXPECT_NEAR(actual.center.x, expected.center.x, 1e-9);
        EXPECT_NEAR(actual.center.y, expected.center.y, 1e-9);
        EXPECT_NEAR(actual.side, expected.side, 1e-9);
    }

    // Bytes from a list of values, each written in `size` bytes, big- or little-endian.
    std::string bytes(std::initializer_list<std::pair<std::uint32_t, int>> values, bool isBigEndian = true)
    {
        std::string result;
        for (auto [value, size] : values) {
            for (int i = 0; i < size; ++i)
                result += char(value >> (8 * (isBigEndian ? size - 1 - i : i)));
        }
        return result;
    }

    TEST(ImageHeader, pixelCountIsReadFromTheHeaderOfEachFormatTheFramerDecodes)
    {
        const std::string riff = "RIFF" + bytes({ { 0, 4 } }) + "WEBP";
        const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
            { "\x89PNG\r\n\x1a\n" + bytes({ { 13, 4 } }) + "IHDR" + bytes({ { 10001, 4 }, { 10000, 4 } }), 100010000 },
            { "\xff\xd8" + bytes({ { 0xffe0, 2 }, { 4, 2 }, { 0, 2 }, { 0xffc2, 2 }, { 17, 2 }, { 8, 1 }, { 600, 2 }, { 800, 2 } }), 480000 },
            // TIFF in either byte order, the width a LONG or a SHORT.
            { "II*" + bytes({ { 0, 1 }, { 8, 4 }, { 2, 2 }, { 256, 2 }, { 4, 2 }, { 1, 4 }, { 12000, 4 }, { 257, 2 }, { 3, 2 }, { 1, 4 }, { 10000, 2 }, { 0, 2 } }, false), 120000000 },
            { "MM" + bytes({ { 42, 2 }, { 8, 4 }, { 2, 2 }, { 257, 2 }, { 3, 2 }, { 1, 4 }, { 40, 2 }, { 0, 2 }, { 256, 2 }, { 3, 2 }, { 1, 4 }, { 30, 2 }, { 0, 2 } }), 1200 },
            { "II*" + bytes({ { 0, 1 }, { 8000, 4 } }, false), std::nullopt },
            { riff + "VP8 " + bytes({ { 0, 4 }, { 0, 3 }, { 0x2a019d, 3 }, { 16383, 2 }, { 16383, 2 } }, false), 16383ull * 16383 },
            { riff + "VP8L" + bytes({ { 0, 4 }, { 0x2f, 1 }, { 99 | (199 << 14), 4 } }, false), 20000 },
            { riff + "VP8X" + bytes({ { 0, 4 }, { 0, 4 }, { 59999, 3 }, { 59999, 3 } }, false), 3600000000 },
            // BMP stores rows top-down under a negative height.
            { "BM" + bytes({ { 0, 4 }, { 0, 4 }, { 0, 4 }, { 40, 4 }, { 20000, 4 }, { std::uint32_t(-6000), 4 } }, false), 120000000 },
            { "GIF89a" + bytes({ { 10, 2 }, { 10, 2 } }, false), std::nullopt },
            { "<html>not a photo</html>", std::nullopt },
        };
        for (auto& [header, pixels] : cases)
            EXPECT_EQ(declaredPixelCount(header), pixels) << header.substr(0, 4);
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
            { "tiny face still gets a tenth", { 395, 295, 10, 10 }, { { 0.5, (305 - 7.5) / 600 }, 0.1 } },
            { "face larger than the image gets the whole", { 100, 0, 600, 600 }, { { 0.5, 0.5 }, 1.0 } },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            expectRect(faceCrop(testCase.face, 800, 600), testCase.expected);
        }
    }

    // The largest face is framed (the first of equal ones), else the largest upper body, else the
    // centred square.
    TEST(CropGeometry, detectionFallsBackFromFacesToBodiesToTheCentredSquare)
    {
        DisplayImage image { 800, 600, {} };
        FakePhotoFramer detector;
        detector.bodyBoxes = { { 0, 0, 50, 50 }, { 100, 50, 200, 400 } };
        detector.faceBoxes = { { 0, 0, 20, 20 }, { 350, 300, 100, 100 }, { 0, 0, 50, 200 } };
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

    TEST(CropGestures, previewKeepsThePhotoUnderTheFinger)
    {
        // Tile 200 points, hole 140 points, display image 800 x 600.
        struct Case {
            const char* name;
            Manipulation manipulation;
            CropRect expected;
        };
        const CropRect half { { 0.5, 0.5 }, 0.5 };
        const Case cases[] = {
            { "pinch 2 about the centre halves the side", { half, { 100, 100 }, { 100, 100 }, 2 }, { { 0.5, 0.5 }, 0.25 } },
            { "pinch never goes below a tenth", { { { 0.5, 0.5 }, 0.15 }, { 100, 100 }, { 100, 100 }, 2 }, { { 0.5, 0.5 }, 0.1 } },
            { "pinch never goes above the whole", { half, { 100, 100 }, { 100, 100 }, 0.25 }, { { 0.5, 0.5 }, 1.0 } },
            // One crop side is 300 pixels: dragging right by the hole moves the centre 300 left.
            { "drag by the hole moves one side the other way", { half, { 100, 100 }, { 240, 100 }, 1 }, { { 100.0 / 800, 0.5 }, 0.5 } },
            { "drag down moves up", { half, { 50, 50 }, { 50, 120 }, 1 }, { { 0.5, 150.0 / 600 }, 0.5 } },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            expectRect(gesturePreview(testCase.manipulation, 800, 600, 200), testCase.expected);
        }
        expectRect(gesturePreview({ half, { 0, 0 }, { 90, 90 }, 3 }, 0, 0, 200), half);
    }

    class CropSessionTest : public ::testing::Test {
    protected:
        CropSessionTest()
        {
            auto display = std::make_shared<const DisplayImage>(DisplayImage { 800, 600, {} });
            CropRect automatic { { 0.5, 0.4 }, 0.5 };
            contacts = {
                { "a", { "Ana", "Lima", "", "", "", {}, std::nullopt }, "jpeg", display, automatic, automatic },
                { "b", { "Ben", "Ode", "", "", "", {}, std::nullopt }, std::nullopt, nullptr, defaultCrop, defaultCrop },
            };
        }

        // Each export waits until the test answers it.
        VirtualRunLoop loop;
        CropSession session { loop, [this](std::vector<CropContact> exported, std::string title) -> Task<ContactExportResult> {
                                 exports.push_back({ exported.size(), title });
                                 auto result = co_await awaitCallback<ContactExportResult>([this](auto done) { finishExport = done; });
                                 co_return result.value_or(ContactExportResult {});
                             } };
        std::vector<std::pair<std::size_t, std::string>> exports;
        std::function<void(ContactExportResult)> finishExport;
        std::vector<CropContact> contacts;
        LogCapture log;
    };

    TEST_F(CropSessionTest, adjustmentsAreClampedToThePhotoAndResetToTheAutomaticCrop)
    {
        int changes = 0;
        auto observation = session.observeWillChange([&] { ++changes; });
        session.present(contacts, "COMP 112");
        EXPECT_TRUE(session.isPresented());

        session.setCrop("a", adjustedCrop(CropAdjustment::zoomOut, { { 0.5, 0.5 }, 1.0 }, 800, 600));
        expectRect(session.contacts()[0].crop, { { 0.5, 0.5 }, 1.0 });
        session.setCrop("a", adjustedCrop(CropAdjustment::zoomIn, { { 0.5, 0.5 }, 1.0 }, 800, 600));
        EXPECT_NEAR(session.contacts()[0].crop.side, 1 / 1.15, 1e-12);
        session.setCrop("a", adjustedCrop(CropAdjustment::moveDown, { { 0.5, 0.5 }, 0.5 }, 800, 600));
        expectRect(session.contacts()[0].crop, { { 0.5, 0.5 + 15.0 / 600 }, 0.5 });
        session.setCrop("b", { { 3, -2 }, 7 }); // no photo: stored as given
        expectRect(session.contacts()[1].crop, { { 3, -2 }, 7 });
        session.setCrop("unknown", defaultCrop);

        session.reset("a");
        expectRect(session.contacts()[0].crop, { { 0.5, 0.4 }, 0.5 });
        session.setCrop("a", defaultCrop);
        session.resetAll();
        EXPECT_EQ(session.contacts()[0].crop, session.contacts()[0].autoCrop);
        EXPECT_EQ(session.contacts()[1].crop, defaultCrop);
        EXPECT_GE(changes, 8);
    }

    TEST_F(CropSessionTest, failedExportKeepsTheContactsAndSuccessEndsTheSession)
    {
        session.exportContacts();
        EXPECT_TRUE(exports.empty()) << "nothing to export";

        session.present(contacts, "COMP 112");
        session.exportContacts();
        session.exportContacts();
        session.cancel();
        ASSERT_EQ(exports.size(), 1u);
        EXPECT_EQ(exports[0], std::make_pair(std::size_t(2), std::string("COMP 112")));
        EXPECT_TRUE(session.isExporting());
        EXPECT_TRUE(session.isPresented()) << "cancel waits while the export runs";

        finishExport({ std::nullopt, "The Downloads folder couldn't be found." });
        EXPECT_FALSE(session.isExporting());
        EXPECT_EQ(session.errorMessage(), "The Downloads folder couldn't be found.");
        EXPECT_EQ(session.contacts().size(), 2u);
        EXPECT_TRUE(log.contains("[Roster] export failed: The Downloads folder couldn't be found."));

        // A roster presented while the file is written survives the export's success.
        session.exportContacts();
        session.present({ contacts[1] }, "COMP 200");
        finishExport({ "/tmp/COMP 112 Roster.vcf", "" });
        EXPECT_TRUE(session.isPresented());
        EXPECT_EQ(session.title(), "COMP 200");
        EXPECT_EQ(session.contacts().size(), 1u);

        session.exportContacts();
        finishExport({ "/tmp/COMP 200 Roster.vcf", "" });
        EXPECT_FALSE(session.isPresented());

        session.present(contacts, "");
        session.cancel();
        EXPECT_FALSE(session.isPresented());
    }

}
}

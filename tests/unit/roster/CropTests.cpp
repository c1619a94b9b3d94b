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

    // Every rule that places a square on the photo: clamping, framing a face or body, gestures and
    // the keyboard's steps (display image 800 x 600 unless said).
    TEST(CropGeometry, squareStaysInsideThePhotoAtATenthToTheWholeAndFollowsFacesGesturesAndKeys)
    {
        const CropRect half { { 0.5, 0.5 }, 0.5 };
        // Tile 200 points, hole 140 points.
        auto preview = [](CropRect start, Manipulation::Point from, Manipulation::Point to, double scale) {
            return gesturePreview({ start, from, to, scale }, 800, 600, 200);
        };
        // The largest face is framed (the first of equal ones), else the largest upper body, else
        // the centred square.
        auto detected = [](std::vector<PixelBox> faces, std::vector<PixelBox> bodies) {
            FakePhotoFramer detector;
            detector.faceBoxes = faces;
            detector.bodyBoxes = bodies;
            return detectCrop(detector, { 800, 600, {} });
        };
        const std::vector<PixelBox> bodies { { 0, 0, 50, 50 }, { 100, 50, 200, 400 } };
        const std::tuple<const char*, CropRect, CropRect> cases[] = {
            { "inside stays", clamped(half, 800, 600), half },
            { "tiny side grows to a tenth", clamped({ { 0.5, 0.5 }, 0.05 }, 800, 600), { { 0.5, 0.5 }, 0.1 } },
            { "oversized side shrinks to the whole", clamped({ { 0.5, 0.5 }, 1.5 }, 800, 600), { { 0.5, 0.5 }, 1.0 } },
            { "top edge pushes down", clamped({ { 0.5, 0.0 }, 0.5 }, 800, 600), { { 0.5, 0.25 }, 0.5 } },
            { "lower right corner pulls in", clamped({ { 1.0, 1.0 }, 0.2 }, 800, 600), { { 740.0 / 800, 0.9 }, 0.2 } },
            { "whole side is centred on the short axis", clamped({ { 0.1, 0.9 }, 1.0 }, 1000, 500), { { 0.25, 0.5 }, 1.0 } },
            { "no pixels leave it unchanged", clamped({ { 2.0, -1.0 }, 3.0 }, 0, 600), { { 2.0, -1.0 }, 3.0 } },
            // A face is a head of 1.5 face heights ending at the chin, filling 80 % of the side:
            // head 150, centre y 400 - 75 = 325, side 150 / 0.8 = 187.5 of 600.
            { "100-pixel face ending at y 400", faceCrop({ 350, 300, 100, 100 }, 800, 600), { { 0.5, 325.0 / 600 }, 0.3125 } },
            { "tiny face still gets a tenth", faceCrop({ 395, 295, 10, 10 }, 800, 600), { { 0.5, (305 - 7.5) / 600 }, 0.1 } },
            { "face larger than the image gets the whole", faceCrop({ 100, 0, 600, 600 }, 800, 600), { { 0.5, 0.5 }, 1.0 } },
            { "largest face", detected({ { 0, 0, 20, 20 }, { 350, 300, 100, 100 }, { 0, 0, 50, 200 } }, bodies), { { 0.5, 325.0 / 600 }, 0.3125 } },
            { "no face: largest body", detected({}, bodies), { { 200.0 / 800, 150.0 / 600 }, 200.0 / 600 } },
            { "no face or body: centred square", detected({}, {}), defaultCrop },
            // The photo stays under the finger.
            { "pinch 2 about the centre halves the side", preview(half, { 100, 100 }, { 100, 100 }, 2), { { 0.5, 0.5 }, 0.25 } },
            { "pinch never goes below a tenth", preview({ { 0.5, 0.5 }, 0.15 }, { 100, 100 }, { 100, 100 }, 2), { { 0.5, 0.5 }, 0.1 } },
            { "pinch never goes above the whole", preview(half, { 100, 100 }, { 100, 100 }, 0.25), { { 0.5, 0.5 }, 1.0 } },
            // One crop side is 300 pixels: dragging right by the hole moves the centre 300 left.
            { "drag by the hole moves one side the other way", preview(half, { 100, 100 }, { 240, 100 }, 1), { { 100.0 / 800, 0.5 }, 0.5 } },
            { "drag down moves up", preview(half, { 50, 50 }, { 50, 120 }, 1), { { 0.5, 150.0 / 600 }, 0.5 } },
            { "gesture on no pixels", gesturePreview({ half, { 0, 0 }, { 90, 90 }, 3 }, 0, 0, 200), half },
            // A key zooms by 1.15 or moves by 5 % of the side.
            { "zoom in", adjustedCrop(CropAdjustment::zoomIn, { { 0.5, 0.5 }, 1.0 }, 800, 600), { { 0.5, 0.5 }, 1 / 1.15 } },
            { "zoom out", adjustedCrop(CropAdjustment::zoomOut, half, 800, 600), { { 0.5, 0.5 }, 0.575 } },
            { "move down", adjustedCrop(CropAdjustment::moveDown, half, 800, 600), { { 0.5, 0.5 + 15.0 / 600 }, 0.5 } },
            { "move left", adjustedCrop(CropAdjustment::moveLeft, half, 800, 600), { { 0.5 - 15.0 / 800, 0.5 }, 0.5 } },
            { "key on no pixels", adjustedCrop(CropAdjustment::moveUp, half, 0, 600), half },
        };
        for (auto& [name, actual, expected] : cases) {
            SCOPED_TRACE(name);
            expectRect(actual, expected);
        }
    }

    TEST(CropGeometry, cutIsTheWholePixelSquareAndThePictureAtMost512)
    {
        auto cut = [](CropRect rect, int width, int height) {
            auto cut = cropCut(rect, width, height);
            return cut ? std::vector { cut->x, cut->y, cut->width, cut->height, cut->outputSide } : std::vector<int> {};
        };
        EXPECT_EQ(cut(defaultCrop, 1000, 500), (std::vector { 250, 0, 500, 500, 500 })) << "landscape at side 1";
        // A 299-pixel square starting at x 100.5 widens to 300 pixels.
        EXPECT_EQ(cut({ { 0.25, 0.5 }, 1.0 }, 1000, 299), (std::vector { 100, 0, 300, 299, 299 })) << "uneven cut takes the smaller side";
        EXPECT_EQ(cut(defaultCrop, 3000, 2000), (std::vector { 500, 0, 2000, 2000, 512 })) << "large photo is scaled to 512";
        EXPECT_EQ(cut({ { 0.5, 0.5 }, 0.1 }, 100, 100), (std::vector { 45, 45, 10, 10, 10 })) << "a tenth of a small photo";
        EXPECT_EQ(cut(defaultCrop, 0, 100), std::vector<int> {}) << "no pixels";
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
        session.setCrop("a", { { 0.5, 0.5 }, 1.15 });
        expectRect(session.contacts()[0].crop, { { 0.5, 0.5 }, 1.0 });
        session.setCrop("b", { { 3, -2 }, 7 }); // no photo: stored as given
        expectRect(session.contacts()[1].crop, { { 3, -2 }, 7 });
        session.setCrop("unknown", defaultCrop);

        session.reset("a");
        expectRect(session.contacts()[0].crop, { { 0.5, 0.4 }, 0.5 });
        session.setCrop("a", defaultCrop);
        session.resetAll();
        EXPECT_EQ(session.contacts()[0].crop, session.contacts()[0].autoCrop);
        EXPECT_EQ(session.contacts()[1].crop, defaultCrop);
        EXPECT_GE(changes, 6);
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

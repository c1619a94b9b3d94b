// The OpenCV framing on photographs with known faces (../shared/testdata/faces, ground truth in
// faces.json, boxes in upright pixels), on photographs with no person (no-person/, kept in the
// repository). The export of a whole roster to a vCard parser, with photos that must not be
// decoded, runs in the engine's roster test; detection times are the roster benchmark's.

#include "platform/vision/OpenCVPhotoFramer.h"
#include "roster/CropGeometry.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace halcyra {
namespace {

    const std::filesystem::path faceFolder = HALCYRA_SHARED_DIR "/testdata/faces";
    const std::filesystem::path noPersonFolder = HALCYRA_SOURCE_DIR "/tests/roster/no-person";

    class PhotoFiles : public ::testing::Test {
    protected:
        OpenCVPhotoFramer framer;
    };

    // The face set comes beside the repository, not in it: without it this test is skipped, and
    // ctest reports it skipped. Photos stored on their side are turned upright by their
    // orientation tag, for the display image and for the JPEG alike.
    TEST_F(PhotoFiles, proposedCropFramesTheLargestFaceAndTheJPEGIsThatSquareOfTheUprightPhoto)
    {
        if (!std::filesystem::exists(faceFolder / "faces.json"))
            GTEST_SKIP() << "no face set at " << faceFolder;
        int photosWithFaces = 0, photosWithFacesFound = 0;
        for (auto& entry : nlohmann::json::parse(contentsOf(faceFolder / "faces.json"))) {
            auto name = entry["file"].get<std::string>();
            SCOPED_TRACE(name);
            auto bytes = contentsOf(faceFolder / name);
            auto display = framer.displayImage(bytes, PhotoFramer::displayPixelSize);
            ASSERT_TRUE(display);
            double width = entry["width"], height = entry["height"];
            double scale = std::min(1.0, 800 / std::max(width, height));
            EXPECT_NEAR(display->width, width * scale, 1) << "the display image is upright and at most 800 pixels";
            EXPECT_NEAR(display->height, height * scale, 1);
            auto crop = detectCrop(framer, *display);

            auto jpeg = framer.cropJPEG(bytes, crop);
            ASSERT_TRUE(jpeg);
            auto cut = cv::imdecode(cv::Mat(1, int(jpeg->size()), CV_8U, jpeg->data()), cv::IMREAD_UNCHANGED);
            auto upright = cv::imread(faceFolder / name, cv::IMREAD_COLOR);
            auto expectedCut = cropCut(crop, upright.cols, upright.rows);
            cv::Mat expected;
            cv::resize(upright(cv::Rect(expectedCut->x, expectedCut->y, expectedCut->width, expectedCut->height)), expected, { expectedCut->outputSide, expectedCut->outputSide }, 0, 0, cv::INTER_AREA);
            ASSERT_EQ(cut.size(), expected.size());
            EXPECT_LT(cv::norm(cut, expected, cv::NORM_L1) / cut.total() / 3, 6.0) << "the JPEG shows the crop of the upright photo, in colour";

            std::vector<cv::Rect2d> faces;
            for (auto& face : entry["faces"])
                faces.emplace_back(face[0].get<double>() * scale, face[1].get<double>() * scale, face[2].get<double>() * scale, face[3].get<double>() * scale);
            if (faces.empty()) {
                EXPECT_EQ(crop, clamped(defaultCrop, display->width, display->height)) << "no person: the centred square";
                continue;
            }
            ++photosWithFaces;
            photosWithFacesFound += !framer.faces(*display).empty();
            auto largest = *std::ranges::max_element(faces, {}, &cv::Rect2d::area);
            double shorter = std::min(display->width, display->height);
            if (largest.height > 0.75 * shorter) {
                EXPECT_EQ(crop.side, 1.0) << "a head too large to frame gets the whole shorter side";
                continue;
            }
            double side = crop.side * shorter;
            double left = crop.center.x * display->width - side / 2, top = crop.center.y * display->height - side / 2;
            constexpr double tolerance = 1.5; // pixels of rounding in the scaled ground truth
            auto frames = [&](const cv::Rect2d& face) {
                return left <= face.x + tolerance && top <= face.y + tolerance && left + side >= face.x + face.width - tolerance
                    && top + side >= face.y + face.height - tolerance && face.height / side >= 0.30 && face.height / side <= 0.75;
            };
            // Faces whose areas differ by less than 15 % are the same size to a detector, whose
            // boxes vary by a few pixels: either may be framed (the rule itself is tested on
            // given boxes).
            EXPECT_TRUE(std::ranges::any_of(faces, [&](const cv::Rect2d& face) { return face.area() >= 0.85 * largest.area() && frames(face); }))
                << "the crop frames the largest face";
        }
        // The centred square of a close portrait holds the face too, so a lost face can pass the
        // checks above: the faces found are counted. Only the 128-pixel photo's is too small.
        EXPECT_GE(photosWithFacesFound, photosWithFaces - 1);
    }

    TEST_F(PhotoFiles, photoWithNoPersonKeepsTheCentredSquare)
    {
        // Animals, flowers, landscapes, textures and drawings, where a detector sees a face in
        // an eye-like spot or a symmetric pattern.
        int count = 0;
        for (auto& file : std::filesystem::directory_iterator(noPersonFolder)) {
            if (file.path().extension() != ".jpg")
                continue;
            SCOPED_TRACE(file.path().filename().string());
            auto display = framer.displayImage(contentsOf(file.path()), PhotoFramer::displayPixelSize);
            ASSERT_TRUE(display);
            EXPECT_EQ(detectCrop(framer, *display), clamped(defaultCrop, display->width, display->height));
            ++count;
        }
        EXPECT_GE(count, 15) << "the no-person set is in " << noPersonFolder;
    }

}
}

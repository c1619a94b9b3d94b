// The OpenCV framing on photographs with known faces (../shared/testdata/faces, ground truth in
// faces.json, boxes in upright pixels), on photographs with no person (no-person/, kept in the
// repository), and JPEG crops of real files. The export of a whole roster to a vCard parser runs
// in the engine's roster test.

#include "platform/vision/OpenCVPhotoFramer.h"
#include "roster/CropGeometry.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

namespace halcyra {
namespace {

    const std::filesystem::path faceFolder = HALCYRA_SHARED_DIR "/testdata/faces";
    const std::filesystem::path noPersonFolder = HALCYRA_SOURCE_DIR "/tests/roster/no-person";

    std::string contentsOf(const std::filesystem::path& path)
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream contents;
        contents << file.rdbuf();
        return contents.str();
    }

    std::string encoded(const cv::Mat& image, const char* extension = ".jpg")
    {
        std::vector<unsigned char> bytes;
        cv::imencode(extension, image, bytes);
        return { bytes.begin(), bytes.end() };
    }

    cv::Mat decodedJPEG(const std::string& bytes)
    {
        return cv::imdecode(cv::Mat(1, int(bytes.size()), CV_8U, const_cast<char*>(bytes.data())), cv::IMREAD_UNCHANGED);
    }

    // Photographs made here or kept in the repository.
    class PhotoFiles : public ::testing::Test {
    protected:
        OpenCVPhotoFramer framer;
    };

    // The face set comes beside the repository, not in it: without it these tests are skipped,
    // and ctest reports them skipped.
    class FaceSet : public PhotoFiles {
    protected:
        void SetUp() override
        {
            if (!std::filesystem::exists(faceFolder / "faces.json"))
                GTEST_SKIP() << "no face set at " << faceFolder;
            std::ifstream file(faceFolder / "faces.json");
            groundTruth = nlohmann::json::parse(file);
        }

        nlohmann::json groundTruth;
    };

    TEST_F(FaceSet, proposedCropFramesTheLargestFaceOrTheCentredSquare)
    {
        double totalMilliseconds = 0;
        for (auto& entry : groundTruth) {
            auto name = entry["file"].get<std::string>();
            SCOPED_TRACE(name);
            auto display = framer.displayImage(contentsOf(faceFolder / name), PhotoFramer::displayPixelSize);
            ASSERT_TRUE(display);
            double width = entry["width"], height = entry["height"];
            double scale = std::min(1.0, 800 / std::max(width, height));
            EXPECT_NEAR(display->width, width * scale, 1) << "the display image is upright and at most 800 pixels";
            EXPECT_NEAR(display->height, height * scale, 1);

            auto start = std::chrono::steady_clock::now();
            auto crop = detectCrop(framer, *display);
            double milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            totalMilliseconds += milliseconds;
            std::printf("%-26s %6.1f ms  crop centre (%.3f, %.3f) side %.3f\n", name.c_str(), milliseconds, crop.center.x, crop.center.y, crop.side);

            std::vector<cv::Rect2d> faces;
            for (auto& face : entry["faces"])
                faces.emplace_back(face[0].get<double>() * scale, face[1].get<double>() * scale, face[2].get<double>() * scale, face[3].get<double>() * scale);
            if (faces.empty()) {
                EXPECT_EQ(crop, clamped(defaultCrop, display->width, display->height)) << "no person: the centred square";
                continue;
            }
            auto largest = *std::ranges::max_element(faces, {}, &cv::Rect2d::area);

            double shorter = std::min(display->width, display->height);
            if (largest.height > 0.75 * shorter) {
                EXPECT_EQ(crop.side, 1.0) << "a head too large to frame gets the whole shorter side";
                continue;
            }
            double side = crop.side * shorter;
            double left = crop.center.x * display->width - side / 2, top = crop.center.y * display->height - side / 2;
            constexpr double tolerance = 1.5; // pixels of rounding in the scaled ground truth
            EXPECT_LE(left, largest.x + tolerance);
            EXPECT_LE(top, largest.y + tolerance);
            EXPECT_GE(left + side, largest.x + largest.width - tolerance);
            EXPECT_GE(top + side, largest.y + largest.height - tolerance);
            double share = largest.height / side;
            EXPECT_GE(share, 0.30);
            EXPECT_LE(share, 0.75);
        }
        std::printf("detection: %.1f ms per photo on average over %zu photos\n", totalMilliseconds / groundTruth.size(), groundTruth.size());
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

    TEST_F(PhotoFiles, cropIsASquareJPEGOfAtMost512CutFromTheUprightPhoto)
    {
        // A PNG strip whose square cut is a pixel wider than high comes out square, in colour.
        cv::Mat strip(299, 1000, CV_8UC3, cv::Scalar(200, 10, 10));
        auto uneven = framer.cropJPEG(encoded(strip, ".png"), { { 0.25, 0.5 }, 1.0 });
        ASSERT_TRUE(uneven);
        EXPECT_EQ(decodedJPEG(*uneven).size(), cv::Size(299, 299));
        EXPECT_EQ(decodedJPEG(*uneven).channels(), 3);

        EXPECT_FALSE(framer.cropJPEG("<html>not a photo</html>", defaultCrop));
        EXPECT_FALSE(framer.displayImage("<html>not a photo</html>", 800));
        EXPECT_FALSE(framer.displayImage("", 800));

        // A small file that would decode to gigabytes is refused.
        auto bomb = encoded(cv::Mat(10000, 10001, CV_8UC1, cv::Scalar(0)), ".png");
        EXPECT_FALSE(framer.displayImage(bomb, 800)) << "more than 100 megapixels";
        auto tiffBomb = encoded(cv::Mat(10000, 12000, CV_8UC1, cv::Scalar(0)), ".tiff");
        EXPECT_FALSE(framer.displayImage(tiffBomb, 800)) << "a TIFF of 120 megapixels";
    }

    TEST_F(FaceSet, rotatedPhotoIsFramedAndCroppedUpright)
    {
        // Stored lying on its side, turned upright by its orientation tag.
        auto bytes = contentsOf(faceFolder / "model_face_exif8.jpg");
        auto upright = cv::imread(faceFolder / "model_face_exif8.jpg", cv::IMREAD_COLOR);
        auto stored = cv::imread(faceFolder / "model_face_exif8.jpg", cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
        ASSERT_EQ(upright.size(), cv::Size(1280, 1920));
        ASSERT_EQ(stored.size(), cv::Size(1920, 1280));

        CropRect rect { { 0.4, 0.3 }, 0.5 };
        auto jpeg = framer.cropJPEG(bytes, rect);
        ASSERT_TRUE(jpeg);
        auto cut = decodedJPEG(*jpeg);
        ASSERT_EQ(cut.size(), cv::Size(512, 512));
        auto expectedCut = cropCut(rect, upright.cols, upright.rows);
        cv::Mat expected;
        cv::resize(upright(cv::Rect(expectedCut->x, expectedCut->y, expectedCut->width, expectedCut->height)), expected, cut.size(), 0, 0, cv::INTER_AREA);
        EXPECT_LT(cv::norm(cut, expected, cv::NORM_L1) / cut.total() / 3, 6.0) << "the crop shows the upright photo";
    }

}
}

#include "platform/vision/OpenCVPhotoFramer.h"

#include "base/Log.h"
#include "roster/ImageHeader.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cmath>

namespace halcyra {

namespace {

    // Chosen by measurement (benchmarks/CompareFaceDetectors, tests/roster/no-person) on the face
    // set of 16 faces and photos with no person (animals, flowers, landscapes, textures): the
    // frontal "alt2" cascade finds 15 of the 16 faces but also draws faces on a bird, a leaf,
    // bricks or coins; the profile cascade on both sides, asked only when no frontal face is
    // found and with 5 neighbours, adds the profile it misses. A frontal box counts as a face only
    // when an eye cascade finds an eye in its upper part, and in a colour photo every box must
    // be mostly skin-coloured (a leaf's stripes pass the eye check, not this one): that keeps
    // every face of the set and leaves no false face on the no-person photos. An upper body needs
    // an eye and skin in its head region.
    constexpr int frontalNeighbours = 3;
    constexpr int profileNeighbours = 5;
    constexpr int upperBodyNeighbours = 3;
    constexpr int eyeNeighbours = 2;
    constexpr double scaleStep = 1.1;
    constexpr int jpegQuality = 85;
    constexpr double eyeSearchFaceWidth = 120;

    // In a face brought to 120 pixels, the eye cascade finds an eye in boxes of 22 to 29 pixels
    // on every face of the face set. Those sizes are searched first, at about two fifths of the
    // cost of all sizes; only when they show no eye does the search of all sizes decide. The
    // first search accepts no face the second would refuse: the second looks at the same windows
    // and more, and more windows only add to OpenCV's groups of near boxes. Measured on the face
    // set: a close portrait framed in 17 ms instead of 25.
    constexpr int likelyEyeSmallest = 22;
    constexpr int likelyEyeLargest = 29;

    // A cascade's search of a whole 800-pixel image costs 150-400 ms on one core, most of it at
    // the smallest sizes, where OpenCV moves its window one pixel at a time. The search runs
    // first on the image reduced until the smallest box looked for is a little above the
    // cascades' 20-pixel windows, with a coarser size step and one neighbour enough; each box
    // found there is looked for again at full resolution with the search's own settings, around
    // it and near its size. Measured on the face set and the no-person photos: no face lost or
    // gained, 2-3 times less time (benchmarks/RESULTS.md).
    constexpr int reducedMinimumSide = 24;
    constexpr double candidateScaleStep = 1.2;
    constexpr int candidateNeighbours = 1;
    constexpr double confirmationMargin = 0.3;
    constexpr double confirmationSmallest = 0.7;
    constexpr double confirmationLargest = 1.4;

    // Only the largest face frames a photo, and a search costs most at its smallest sizes. Faces
    // of at least a quarter of the shorter side (a close portrait's, both of a two-person photo's)
    // are looked for first, on an image with a ninth of the pixels the whole search takes; the
    // smaller sizes are searched only when no such face is accepted. Measured on the face set
    // and the no-person photos: the same faces found, none gained, a close portrait framed in
    // half the time.
    constexpr int largeFaceShare = 4;

    // An upper body is about three heads wide (the head check below takes a third of it): one
    // whose head is well under the smallest face looked for is not looked for either.
    constexpr int upperBodyMinimumScale = 2;

    // The frontal cascade's box runs from mid-forehead to just above the chin. The framing takes
    // a face box to end at the chin (eyebrows to chin); measured on the face set, that box starts
    // 0.26 and ends 1.14 cascade-box heights below the cascade box's top.
    constexpr double frontalBoxTopOffset = 0.26;
    constexpr double frontalBoxHeightScale = 0.88;

    // A few kilobytes of any image format can claim 60000 x 60000 pixels, and OpenCV's own limit
    // (2^30 pixels, 3 GB decoded) lets one such photo exhaust memory. OpenCV reads its
    // OPENCV_IO_MAX_IMAGE_PIXELS only as the library loads, before main, so the size is read here
    // before decoding; a format whose size is not read here is not decoded. 100 megapixels is more
    // than any camera's photo.
    constexpr std::uint64_t maximumPixels = 100'000'000;

    cv::Mat decoded(std::string_view bytes)
    {
        // Formats whose size cannot be read are not decoded at all: some of OpenCV's decoders
        // (DICOM's) end the process on a malformed file.
        auto pixels = declaredPixelCount(bytes);
        if (!pixels) {
            logVerbose("[Roster] photo not decoded: not a JPEG, PNG, TIFF, WebP or BMP image");
            return {};
        }
        if (*pixels > maximumPixels) {
            logVerbose("[Roster] photo not decoded: " + std::to_string(*pixels) + " pixels");
            return {};
        }
        try {
            // IMREAD_COLOR turns the image upright by its EXIF orientation and gives 8-bit BGR
            // whatever the file holds (grey, alpha, 16 bits).
            cv::Mat buffer(1, static_cast<int>(bytes.size()), CV_8U, const_cast<char*>(bytes.data()));
            return cv::imdecode(buffer, cv::IMREAD_COLOR);
        } catch (const cv::Exception& exception) {
            logVerbose(std::string("[Roster] photo not decoded: ") + exception.what());
            return {};
        }
    }

    int minimumBoxSide(int width, int height)
    {
        return std::max(24, std::min(width, height) / 12);
    }

    cv::Mat equalizedGray(const DisplayImage& image)
    {
        cv::Mat rgb(image.height, image.width, CV_8UC3, const_cast<std::uint8_t*>(image.rgb.data()));
        cv::Mat gray;
        cv::cvtColor(rgb, gray, cv::COLOR_RGB2GRAY);
        cv::equalizeHist(gray, gray);
        return gray;
    }

    // Whether `eyes` finds an eye in `region`, where a face of `faceWidth` pixels would show one.
    // The cascade knows eyes of 20 pixels and more, about a fifth of a face: the face is brought
    // to 120 pixels, enlarged when smaller, and reduced when larger (where searching a large face
    // for eyes from an eighth of its width took up to 70 ms). The face set keeps every face with
    // faces brought to 100 to 160 pixels; 120 takes a quarter less time than 160.
    bool hasEye(cv::CascadeClassifier& eyes, const cv::Mat& gray, cv::Rect region, double faceWidth)
    {
        region &= cv::Rect(0, 0, gray.cols, gray.rows);
        if (eyes.empty() || region.empty() || faceWidth < 1)
            return false;
        try {
            cv::Mat part = gray(region);
            double scale = eyeSearchFaceWidth / faceWidth;
            if (scale != 1.0)
                cv::resize(part, part, {}, scale, scale, scale > 1.0 ? cv::INTER_LINEAR : cv::INTER_AREA);
            int width = int(faceWidth * scale);
            auto findsEye = [&](int smallest, int largest) {
                std::vector<cv::Rect> found;
                eyes.detectMultiScale(part, found, scaleStep, eyeNeighbours, 0, { smallest, smallest }, { largest, largest });
                return !found.empty();
            };
            return findsEye(likelyEyeSmallest, likelyEyeLargest) || findsEye(width / 8, width / 2);
        } catch (const cv::Exception& exception) {
            logVerbose(std::string("[Roster] detection failed: ") + exception.what());
            return false;
        }
    }

    // The eyes of a face box lie in its upper part.
    bool hasEyeInFace(cv::CascadeClassifier& eyes, const cv::Mat& gray, const PixelBox& box)
    {
        cv::Rect upper(int(box.x), int(box.y), int(box.width), int(box.height * 0.6));
        return hasEye(eyes, gray, upper, box.width);
    }

    // An upper-body box holds the head in the middle of its upper half, about a third as wide.
    bool hasEyeInHead(cv::CascadeClassifier& eyes, const cv::Mat& gray, const PixelBox& box)
    {
        cv::Rect head(int(box.x + box.width * 0.25), int(box.y), int(box.width * 0.5), int(box.height * 0.5));
        return hasEye(eyes, gray, head, box.width / 3);
    }

    // The display image's colours, or nothing for a photo in shades of grey (where skin cannot be
    // told by colour).
    cv::Mat colourOrNothing(const DisplayImage& image)
    {
        cv::Mat rgb(image.height, image.width, CV_8UC3, const_cast<std::uint8_t*>(image.rgb.data()));
        // Every fourth pixel of every fourth row tells the mean saturation as well as all of them,
        // at a sixteenth of the cost (3 ms for an 800-pixel photo).
        cv::Mat sample, hsv;
        cv::resize(rgb, sample, { std::max(1, image.width / 4), std::max(1, image.height / 4) }, 0, 0, cv::INTER_NEAREST);
        cv::cvtColor(sample, hsv, cv::COLOR_RGB2HSV);
        constexpr double greySaturation = 20;
        return cv::mean(hsv)[1] < greySaturation ? cv::Mat() : rgb;
    }

    // Whether the middle of `box` is mostly skin-coloured (the usual chroma range, which holds for
    // every skin tone); always so in a grey photo.
    bool isSkinColoured(const cv::Mat& rgb, const PixelBox& box)
    {
        if (rgb.empty())
            return true;
        auto middle = cv::Rect(int(box.x + box.width / 4), int(box.y + box.height / 4), int(box.width / 2), int(box.height / 2)) & cv::Rect(0, 0, rgb.cols, rgb.rows);
        if (middle.empty())
            return false;
        cv::Mat chroma, skin;
        cv::cvtColor(rgb(middle), chroma, cv::COLOR_RGB2YCrCb);
        cv::inRange(chroma, cv::Scalar(0, 133, 77), cv::Scalar(255, 173, 127), skin);
        constexpr double minimumSkinShare = 0.5;
        return cv::countNonZero(skin) >= minimumSkinShare * middle.area();
    }

    bool overlapsAny(const std::vector<cv::Rect>& boxes, const cv::Rect& box)
    {
        return std::ranges::any_of(boxes, [&](const cv::Rect& other) { return (other & box).area() > std::min(other.area(), box.area()) / 2; });
    }

    // Boxes of `minimum` pixels and more, and under `maximum` when it is not 0.
    std::vector<cv::Rect> detectInTwoPasses(cv::CascadeClassifier& classifier, const cv::Mat& gray, int neighbours, int minimum, int maximum)
    {
        double scale = std::min(1.0, double(reducedMinimumSide) / minimum);
        cv::Mat reduced = gray;
        if (scale < 1.0)
            cv::resize(gray, reduced, {}, scale, scale, cv::INTER_AREA);
        int reducedMinimum = std::max(1, int(minimum * scale));
        int reducedMaximum = int(maximum * scale);
        std::vector<cv::Rect> candidates;
        classifier.detectMultiScale(reduced, candidates, candidateScaleStep, candidateNeighbours, 0, { reducedMinimum, reducedMinimum },
            { reducedMaximum, reducedMaximum });

        cv::Rect bounds(0, 0, gray.cols, gray.rows);
        std::vector<cv::Rect> boxes;
        for (auto& candidate : candidates) {
            cv::Rect box(cvRound(candidate.x / scale), cvRound(candidate.y / scale), cvRound(candidate.width / scale), cvRound(candidate.height / scale));
            int marginX = int(box.width * confirmationMargin), marginY = int(box.height * confirmationMargin);
            auto region = cv::Rect(box.x - marginX, box.y - marginY, box.width + 2 * marginX, box.height + 2 * marginY) & bounds;
            cv::Size smallest(std::max(minimum, int(box.width * confirmationSmallest)), std::max(minimum, int(box.height * confirmationSmallest)));
            cv::Size largest(int(box.width * confirmationLargest), int(box.height * confirmationLargest));
            std::vector<cv::Rect> found;
            classifier.detectMultiScale(gray(region), found, scaleStep, neighbours, 0, smallest, largest);
            for (auto& confirmed : found) {
                // Two candidates of one face find it twice.
                if (!overlapsAny(boxes, confirmed + region.tl()))
                    boxes.push_back(confirmed + region.tl());
            }
        }
        return boxes;
    }

    struct BoxSizes {
        int minimum;
        int maximum { 0 };
    };

    std::vector<PixelBox> detect(cv::CascadeClassifier& classifier, const cv::Mat& gray, int neighbours, bool bothSides, BoxSizes sizes)
    {
        if (classifier.empty() || gray.empty())
            return {};
        std::vector<PixelBox> boxes;
        try {
            for (auto& box : detectInTwoPasses(classifier, gray, neighbours, sizes.minimum, sizes.maximum))
                boxes.push_back({ double(box.x), double(box.y), double(box.width), double(box.height) });
            if (bothSides) {
                // The profile cascade knows faces turned one way only; the mirror finds the other.
                cv::Mat mirrored;
                cv::flip(gray, mirrored, 1);
                for (auto& box : detectInTwoPasses(classifier, mirrored, neighbours, sizes.minimum, sizes.maximum))
                    boxes.push_back({ double(gray.cols - box.x - box.width), double(box.y), double(box.width), double(box.height) });
            }
        } catch (const cv::Exception& exception) {
            logVerbose(std::string("[Roster] detection failed: ") + exception.what());
            return {};
        }
        return boxes;
    }

    // The faces `isFace` accepts: the large ones, or when there is none, the smaller ones.
    template <typename Accept>
    std::vector<PixelBox> detectLargestFirst(cv::CascadeClassifier& classifier, const cv::Mat& gray, int neighbours, bool bothSides, Accept isFace)
    {
        auto minimum = minimumBoxSide(gray.cols, gray.rows);
        auto large = std::min(gray.cols, gray.rows) / largeFaceShare;
        auto accepted = [&](std::vector<PixelBox> boxes) {
            std::erase_if(boxes, [&](const PixelBox& box) { return !isFace(box); });
            return boxes;
        };
        // In a small photo the two searches would look at nearly the same image.
        if (large < 2 * minimum)
            return accepted(detect(classifier, gray, neighbours, bothSides, { minimum }));
        auto boxes = accepted(detect(classifier, gray, neighbours, bothSides, { large }));
        if (!boxes.empty())
            return boxes;
        return accepted(detect(classifier, gray, neighbours, bothSides, { minimum, large }));
    }

}

struct OpenCVPhotoFramer::Cascades {
    cv::CascadeClassifier frontalFace;
    cv::CascadeClassifier profileFace;
    cv::CascadeClassifier upperBody;
    cv::CascadeClassifier eyes;
};

std::filesystem::path OpenCVPhotoFramer::defaultCascadeFolder()
{
    return "/usr/share/opencv4/haarcascades";
}

OpenCVPhotoFramer::OpenCVPhotoFramer(std::filesystem::path cascadeFolder)
    : m_cascadeFolder(std::move(cascadeFolder))
{
    // Photos are framed one per image worker, on every core. OpenCV's own threads (TBB in
    // Debian's build) would split each search across the cores again and compete with the other
    // workers: no photo more per second, and a photo's time no longer says what it costs.
    cv::setNumThreads(1);
}

OpenCVPhotoFramer::~OpenCVPhotoFramer() = default;

OpenCVPhotoFramer::Cascades& OpenCVPhotoFramer::cascades()
{
    auto thread = std::this_thread::get_id();
    {
        std::lock_guard lock(m_cascadesLock);
        if (auto found = m_cascades.find(thread); found != m_cascades.end())
            return *found->second;
    }
    // Loaded outside the lock: another worker may detect meanwhile.
    auto cascades = std::make_unique<Cascades>();
    auto load = [&](cv::CascadeClassifier& classifier, const char* name) {
        auto path = m_cascadeFolder / name;
        try {
            if (classifier.load(path.string()))
                return;
        } catch (const cv::Exception&) {
        }
        logError("[Roster] couldn't load the detector " + path.string() + "; photos are framed without it");
    };
    load(cascades->frontalFace, "haarcascade_frontalface_alt2.xml");
    load(cascades->profileFace, "haarcascade_profileface.xml");
    load(cascades->upperBody, "haarcascade_upperbody.xml");
    load(cascades->eyes, "haarcascade_eye_tree_eyeglasses.xml");
    std::lock_guard lock(m_cascadesLock);
    return *(m_cascades[thread] = std::move(cascades));
}

std::optional<DisplayImage> OpenCVPhotoFramer::displayImage(std::string_view bytes, std::optional<int> maximumPixelSize)
{
    auto image = decoded(bytes);
    if (image.empty() || image.cols < 1 || image.rows < 1)
        return std::nullopt;
    auto longer = std::max(image.cols, image.rows);
    try {
        if (maximumPixelSize && *maximumPixelSize >= 1 && longer > *maximumPixelSize) {
            double scale = double(*maximumPixelSize) / longer;
            cv::Size size(std::max(1, int(std::lround(image.cols * scale))), std::max(1, int(std::lround(image.rows * scale))));
            cv::resize(image, image, size, 0, 0, cv::INTER_AREA);
        }
        DisplayImage display { image.cols, image.rows, std::vector<std::uint8_t>(std::size_t(image.cols) * image.rows * 3) };
        cv::Mat rgb(image.rows, image.cols, CV_8UC3, display.rgb.data());
        cv::cvtColor(image, rgb, cv::COLOR_BGR2RGB);
        return display;
    } catch (const cv::Exception& exception) {
        logVerbose(std::string("[Roster] photo not decoded: ") + exception.what());
        return std::nullopt;
    }
}

std::vector<PixelBox> OpenCVPhotoFramer::faces(const DisplayImage& image)
{
    auto& cascades = this->cascades();
    auto gray = equalizedGray(image);
    auto colour = colourOrNothing(image);
    // The skin check first: it is cheap, and the eye search costs several milliseconds a box.
    auto boxes = detectLargestFirst(cascades.frontalFace, gray, frontalNeighbours, false,
        [&](const PixelBox& box) { return isSkinColoured(colour, box) && hasEyeInFace(cascades.eyes, gray, box); });
    for (auto& box : boxes) {
        box.y += frontalBoxTopOffset * box.height;
        box.height *= frontalBoxHeightScale;
    }
    if (boxes.empty()) {
        // A turned head often shows one eye too small or too shaded for the eye cascade.
        boxes = detectLargestFirst(cascades.profileFace, gray, profileNeighbours, true, [&](const PixelBox& box) { return isSkinColoured(colour, box); });
    }
    return boxes;
}

std::vector<PixelBox> OpenCVPhotoFramer::upperBodies(const DisplayImage& image)
{
    auto& cascades = this->cascades();
    auto gray = equalizedGray(image);
    auto colour = colourOrNothing(image);
    auto boxes = detect(cascades.upperBody, gray, upperBodyNeighbours, false, { minimumBoxSide(gray.cols, gray.rows) * upperBodyMinimumScale });
    std::erase_if(boxes, [&](const PixelBox& box) {
        PixelBox head { box.x + box.width / 3, box.y, box.width / 3, box.height / 2 };
        return !isSkinColoured(colour, head) || !hasEyeInHead(cascades.eyes, gray, box);
    });
    return boxes;
}

std::optional<std::string> OpenCVPhotoFramer::cropJPEG(std::string_view bytes, const CropRect& rect)
{
    auto image = decoded(bytes);
    if (image.empty())
        return std::nullopt;
    auto cut = cropCut(rect, image.cols, image.rows);
    if (!cut)
        return std::nullopt;
    try {
        cv::Mat square;
        cv::resize(image(cv::Rect(cut->x, cut->y, cut->width, cut->height)), square, { cut->outputSide, cut->outputSide }, 0, 0, cv::INTER_AREA);
        // OpenCV keeps no colour profile: pixels are taken as sRGB, and a JPEG without a
        // profile is read as sRGB.
        std::vector<unsigned char> encoded;
        if (!cv::imencode(".jpg", square, encoded, { cv::IMWRITE_JPEG_QUALITY, jpegQuality }))
            return std::nullopt;
        return std::string(encoded.begin(), encoded.end());
    } catch (const cv::Exception& exception) {
        logVerbose(std::string("[Roster] photo not cropped: ") + exception.what());
        return std::nullopt;
    }
}

}

// Measures the face and upper-body detectors that Debian ships, and the confirming checks tried
// on their boxes, on two sets: photographs with known faces (faces.json) and photographs with no
// person at all (animals, landscapes, objects), where any box is a false face that would frame
// the photo away from its centred square. Prints faces found, false boxes and time per photo for
// each candidate, then the same figures for the application's own framer. Asserts nothing.
//
//   compare-face-detectors [--only=<text>] <faces directory> [<no-person directory>...]
//
// --only keeps the candidates whose name holds the text.

#include "platform/vision/OpenCVPhotoFramer.h"

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* cascadeFolder = "/usr/share/opencv4";

using Detector = std::function<std::vector<cv::Rect>(const cv::Mat& gray)>;
using Check = std::function<bool(const cv::Mat& gray, const cv::Rect& box)>;

struct Candidate {
    std::string name;
    Detector detect;
};

struct Photo {
    std::string name;
    std::string bytes;
    cv::Mat gray;
    std::vector<cv::Rect> faces;
    std::vector<cv::Rect> people;
};

std::string contentsOf(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

cv::Mat displayGray(const std::string& path)
{
    auto image = cv::imread(path, cv::IMREAD_COLOR);
    if (image.empty())
        return {};
    double scale = std::min(1.0, 800.0 / std::max(image.cols, image.rows));
    if (scale < 1.0)
        cv::resize(image, image, {}, scale, scale, cv::INTER_AREA);
    cv::Mat gray;
    cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
    cv::equalizeHist(gray, gray);
    return gray;
}

std::shared_ptr<cv::CascadeClassifier> classifier(const std::string& file)
{
    auto loaded = std::make_shared<cv::CascadeClassifier>(std::string(cascadeFolder) + "/" + file);
    if (loaded->empty())
        std::fprintf(stderr, "cannot load %s\n", file.c_str());
    return loaded;
}

Detector cascade(const std::string& file, int minimumNeighbours, bool alsoMirrored = false)
{
    auto loaded = classifier(file);
    return [loaded, minimumNeighbours, alsoMirrored](const cv::Mat& gray) {
        std::vector<cv::Rect> boxes;
        int minimum = std::max(24, std::min(gray.cols, gray.rows) / 12);
        loaded->detectMultiScale(gray, boxes, 1.1, minimumNeighbours, 0, { minimum, minimum });
        if (alsoMirrored) {
            cv::Mat mirrored;
            cv::flip(gray, mirrored, 1);
            std::vector<cv::Rect> more;
            loaded->detectMultiScale(mirrored, more, 1.1, minimumNeighbours, 0, { minimum, minimum });
            for (auto box : more) {
                box.x = gray.cols - box.x - box.width;
                boxes.push_back(box);
            }
        }
        return boxes;
    };
}

Detector withFallback(Detector first, Detector second)
{
    return [first, second](const cv::Mat& gray) {
        auto boxes = first(gray);
        return boxes.empty() ? second(gray) : boxes;
    };
}

// Keeps the boxes that `check` confirms.
Detector confirmed(Detector detect, Check check)
{
    return [detect, check](const cv::Mat& gray) {
        auto boxes = detect(gray);
        std::erase_if(boxes, [&](const cv::Rect& box) { return !check(gray, box); });
        return boxes;
    };
}

// The box widened by `margin` of its size on every side, within the image.
cv::Rect widened(const cv::Rect& box, double margin, const cv::Mat& gray)
{
    int dx = int(box.width * margin), dy = int(box.height * margin);
    return cv::Rect(box.x - dx, box.y - dy, box.width + 2 * dx, box.height + 2 * dy) & cv::Rect(0, 0, gray.cols, gray.rows);
}

// At least `count` eyes in the upper part of the box. The eye cascades know eyes of 20 pixels and
// more, a fifth of a face's width: a smaller face is enlarged first.
Check eyesInside(const std::string& file, int neighbours, int count)
{
    auto eyes = classifier(file);
    return [eyes, neighbours, count](const cv::Mat& gray, const cv::Rect& box) {
        auto upper = cv::Rect(box.x, box.y, box.width, box.height * 6 / 10) & cv::Rect(0, 0, gray.cols, gray.rows);
        cv::Mat region = gray(upper);
        double scale = std::max(1.0, 160.0 / box.width);
        if (scale > 1.0)
            cv::resize(region, region, {}, scale, scale, cv::INTER_LINEAR);
        int width = int(box.width * scale);
        std::vector<cv::Rect> found;
        eyes->detectMultiScale(region, found, 1.1, neighbours, 0, { width / 8, width / 8 }, { width / 2, width / 2 });
        return int(found.size()) >= count;
    };
}

// A second detector finds a face of similar size around the box.
Check secondDetector(const std::string& file, int neighbours, bool alsoMirrored = false)
{
    auto second = classifier(file);
    return [second, neighbours, alsoMirrored](const cv::Mat& gray, const cv::Rect& box) {
        auto region = gray(widened(box, 0.3, gray));
        int minimum = std::max(20, box.width * 6 / 10);
        std::vector<cv::Rect> found;
        second->detectMultiScale(region, found, 1.05, neighbours, 0, { minimum, minimum });
        if (found.empty() && alsoMirrored) {
            cv::Mat mirrored;
            cv::flip(region, mirrored, 1);
            second->detectMultiScale(mirrored, found, 1.05, neighbours, 0, { minimum, minimum });
        }
        return !found.empty();
    };
}

Detector dlibHOG(int upsampling)
{
    auto detector = std::make_shared<dlib::frontal_face_detector>(dlib::get_frontal_face_detector());
    return [detector, upsampling](const cv::Mat& gray) {
        dlib::array2d<unsigned char> image;
        dlib::assign_image(image, dlib::cv_image<unsigned char>(gray));
        for (int i = 0; i < upsampling; ++i)
            dlib::pyramid_up(image);
        double factor = 1 << upsampling;
        std::vector<cv::Rect> boxes;
        for (auto& found : (*detector)(image))
            boxes.emplace_back(found.left() / factor, found.top() / factor, found.width() / factor, found.height() / factor);
        return boxes;
    };
}

double overlap(const cv::Rect& a, const cv::Rect& b)
{
    double common = (a & b).area();
    return common / (a.area() + b.area() - common);
}

bool matchesFace(const cv::Rect& found, const cv::Rect& truth)
{
    // Detectors draw their own idea of a face box (forehead to chin, inside the ears); a box
    // counts when it overlaps the tight box well or its centre lies inside it at a similar size.
    cv::Point centre(found.x + found.width / 2, found.y + found.height / 2);
    double ratio = double(found.height) / truth.height;
    return overlap(found, truth) >= 0.3 || (truth.contains(centre) && ratio > 0.5 && ratio < 2.0);
}

bool matchesPerson(const cv::Rect& found, const cv::Rect& truth)
{
    // An upper-body detector draws head and shoulders, much less than the waist-high box: it
    // counts when it lies mostly inside the person.
    return (found & truth).area() >= 0.5 * found.area();
}

struct Tally {
    int found { 0 }, total { 0 }, falseBoxes { 0 }, falsePhotos { 0 }, noPersonPhotos { 0 };
    double seconds { 0 };
    std::string missed, falseNames;
};

void printTally(const std::string& name, const Tally& tally, std::size_t photoCount)
{
    std::printf("%-44s found %2d of %2d | false boxes %2d | no-person photos framed off-centre %2d of %2d | %6.1f ms per photo\n", name.c_str(), tally.found,
        tally.total, tally.falseBoxes, tally.falsePhotos, tally.noPersonPhotos, tally.seconds * 1000 / photoCount);
    if (!tally.missed.empty())
        std::printf("    missed:%s\n", tally.missed.c_str());
    if (!tally.falseNames.empty())
        std::printf("    false:%s\n", tally.falseNames.c_str());
}

void run(const std::vector<Candidate>& candidates, const std::vector<Photo>& photos, bool isBodyMode)
{
    for (auto& candidate : candidates) {
        Tally tally;
        for (auto& photo : photos) {
            auto& truth = isBodyMode ? photo.people : photo.faces;
            auto matches = isBodyMode ? matchesPerson : matchesFace;
            auto start = std::chrono::steady_clock::now();
            auto boxes = candidate.detect(photo.gray);
            tally.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            tally.total += truth.size();
            for (auto& expected : truth) {
                bool hit = std::ranges::any_of(boxes, [&](auto& box) { return matches(box, expected); });
                tally.found += hit;
                if (!hit)
                    tally.missed += " " + photo.name;
            }
            int falseHere = 0;
            for (auto& box : boxes)
                falseHere += std::ranges::none_of(truth, [&](auto& expected) { return matches(box, expected); });
            tally.falseBoxes += falseHere;
            if (falseHere)
                tally.falseNames += " " + photo.name;
            if (photo.faces.empty()) {
                ++tally.noPersonPhotos;
                tally.falsePhotos += !boxes.empty();
            }
        }
        printTally(candidate.name, tally, photos.size());
    }
}

// What the application proposes: the largest face, else the upper body, else the centred square.
void runApplicationFramer(const std::vector<Photo>& photos)
{
    halcyra::OpenCVPhotoFramer framer;
    Tally tally;
    for (auto& photo : photos) {
        auto display = framer.displayImage(photo.bytes, halcyra::PhotoFramer::displayPixelSize);
        if (!display)
            continue;
        auto start = std::chrono::steady_clock::now();
        auto faces = framer.faces(*display);
        auto crop = halcyra::detectCrop(framer, *display);
        tally.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        tally.total += photo.faces.size();
        for (auto& expected : photo.faces) {
            bool hit = std::ranges::any_of(faces, [&](auto& box) { return matchesFace(cv::Rect(box.x, box.y, box.width, box.height), expected); });
            tally.found += hit;
            if (!hit)
                tally.missed += " " + photo.name;
        }
        if (photo.faces.empty()) {
            ++tally.noPersonPhotos;
            bool isCentred = crop == halcyra::clamped(halcyra::defaultCrop, display->width, display->height);
            tally.falsePhotos += !isCentred;
            tally.falseBoxes += faces.size();
            if (!isCentred)
                tally.falseNames += " " + photo.name;
        }
    }
    printTally("application framer (faces, then bodies)", tally, photos.size());
}

std::vector<cv::Rect> scaledBoxes(const nlohmann::json& boxes, double scale)
{
    std::vector<cv::Rect> result;
    for (auto& box : boxes)
        result.emplace_back(box[0].get<int>() * scale, box[1].get<int>() * scale, box[2].get<int>() * scale, box[3].get<int>() * scale);
    return result;
}

std::vector<Photo> photosIn(const std::filesystem::path& folder)
{
    std::vector<Photo> photos;
    if (std::filesystem::exists(folder / "faces.json")) {
        std::ifstream groundTruthFile(folder / "faces.json");
        for (auto& entry : nlohmann::json::parse(groundTruthFile)) {
            auto path = folder / entry["file"].get<std::string>();
            auto gray = displayGray(path);
            if (gray.empty())
                continue;
            double scale = double(gray.cols) / entry["width"].get<int>();
            photos.push_back({ entry["file"], contentsOf(path), gray, scaledBoxes(entry["faces"], scale), scaledBoxes(entry["people"], scale) });
        }
        return photos;
    }
    // A folder without ground truth holds photos with no person.
    std::vector<std::filesystem::path> paths;
    for (auto& file : std::filesystem::directory_iterator(folder)) {
        auto extension = file.path().extension();
        if (extension == ".jpg" || extension == ".png")
            paths.push_back(file.path());
    }
    std::ranges::sort(paths);
    for (auto& path : paths) {
        if (auto gray = displayGray(path); !gray.empty())
            photos.push_back({ path.filename(), contentsOf(path), gray, {}, {} });
    }
    return photos;
}

}

int main(int argc, char** argv)
{
    std::string only;
    std::vector<Photo> photos;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.starts_with("--only=")) {
            only = argument.substr(7);
            continue;
        }
        auto more = photosIn(argument);
        photos.insert(photos.end(), more.begin(), more.end());
    }
    if (photos.empty()) {
        std::fprintf(stderr, "usage: %s [--only=<text>] <faces directory> [<no-person directory>...]\n", argv[0]);
        return 2;
    }

    auto alt2 = [](int n) { return cascade("haarcascades/haarcascade_frontalface_alt2.xml", n); };
    auto profile = [](int n) { return cascade("haarcascades/haarcascade_profileface.xml", n, true); };
    auto eyes = eyesInside("haarcascades/haarcascade_eye_tree_eyeglasses.xml", 2, 1);
    auto twoEyes = eyesInside("haarcascades/haarcascade_eye_tree_eyeglasses.xml", 2, 2);
    auto plainEye = eyesInside("haarcascades/haarcascade_eye.xml", 3, 1);
    auto frontalAgrees = secondDetector("haarcascades/haarcascade_frontalface_default.xml", 3);
    auto lbpFrontalAgrees = secondDetector("lbpcascades/lbpcascade_frontalface_improved.xml", 2);
    auto lbpProfileAgrees = secondDetector("lbpcascades/lbpcascade_profileface.xml", 2, true);
    std::vector<Candidate> faceCandidates {
        { "haar frontalface_default", cascade("haarcascades/haarcascade_frontalface_default.xml", 5) },
        { "haar frontalface_alt", cascade("haarcascades/haarcascade_frontalface_alt.xml", 3) },
        { "haar frontalface_alt2", alt2(3) },
        { "haar frontalface_alt2 (n=5)", alt2(5) },
        { "haar frontalface_alt_tree", cascade("haarcascades/haarcascade_frontalface_alt_tree.xml", 3) },
        { "lbp frontalface_improved", cascade("lbpcascades/lbpcascade_frontalface_improved.xml", 3) },
        { "haar profileface (both sides)", profile(3) },
        { "haar profileface (both sides, n=5)", profile(5) },
        { "dlib HOG frontal", dlibHOG(0) },
        { "dlib HOG frontal, 2x upsampled", dlibHOG(1) },
        { "alt2, then profile (n=5)", withFallback(alt2(3), profile(5)) },
        { "alt2, then profile (n=8)", withFallback(alt2(3), profile(8)) },
        { "alt2 + eye, then profile + eye", withFallback(confirmed(alt2(3), eyes), confirmed(profile(5), eyes)) },
        { "alt2 + 2 eyes, then profile + eye", withFallback(confirmed(alt2(3), twoEyes), confirmed(profile(5), eyes)) },
        { "alt2 + plain eye, then profile + eye", withFallback(confirmed(alt2(3), plainEye), confirmed(profile(5), plainEye)) },
        { "alt2 + default, then profile + lbp profile", withFallback(confirmed(alt2(3), frontalAgrees), confirmed(profile(5), lbpProfileAgrees)) },
        { "alt2 + lbp, then profile + lbp profile", withFallback(confirmed(alt2(3), lbpFrontalAgrees), confirmed(profile(5), lbpProfileAgrees)) },
        { "alt2 + eye, then profile + lbp profile", withFallback(confirmed(alt2(3), eyes), confirmed(profile(5), lbpProfileAgrees)) },
        { "alt2 + (default or eye), then profile + eye", withFallback(confirmed(alt2(3), [=](auto& g, auto& b) { return frontalAgrees(g, b) || eyes(g, b); }), confirmed(profile(5), eyes)) },
        { "alt2, then dlib 2x, then profile", withFallback(alt2(3), withFallback(dlibHOG(1), profile(3))) },
    };
    std::vector<Candidate> bodyCandidates {
        { "haar upperbody", cascade("haarcascades/haarcascade_upperbody.xml", 3) },
        { "haar upperbody (n=5)", cascade("haarcascades/haarcascade_upperbody.xml", 5) },
        { "haar upperbody (n=8)", cascade("haarcascades/haarcascade_upperbody.xml", 8) },
        { "haar fullbody", cascade("haarcascades/haarcascade_fullbody.xml", 3) },
    };

    auto isLeftOut = [&](const Candidate& candidate) { return candidate.name.find(only) == std::string::npos; };
    std::erase_if(faceCandidates, isLeftOut);
    std::erase_if(bodyCandidates, isLeftOut);
    std::size_t noPerson = std::ranges::count_if(photos, [](auto& photo) { return photo.faces.empty(); });
    std::printf("Faces (%zu photos, %zu of them with no person; display size at most 800 pixels)\n", photos.size(), noPerson);
    run(faceCandidates, photos, false);
    std::printf("Upper bodies\n");
    run(bodyCandidates, photos, true);
    std::printf("The application\n");
    runApplicationFramer(photos);
    return 0;
}

// Measures the face and upper-body detectors that Debian ships on the face set: faces found,
// false boxes and time per photo for each candidate. Prints figures; asserts nothing.
//
//   compare-face-detectors <faces directory>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr const char* cascadeFolder = "/usr/share/opencv4";

struct Candidate {
    std::string name;
    std::function<std::vector<cv::Rect>(const cv::Mat& gray)> detect;
};

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

std::function<std::vector<cv::Rect>(const cv::Mat&)> cascade(const std::string& file, int minimumNeighbours, bool alsoMirrored = false)
{
    auto classifier = std::make_shared<cv::CascadeClassifier>(std::string(cascadeFolder) + "/" + file);
    if (classifier->empty())
        std::fprintf(stderr, "cannot load %s\n", file.c_str());
    return [classifier, minimumNeighbours, alsoMirrored](const cv::Mat& gray) {
        std::vector<cv::Rect> boxes;
        int minimum = std::max(20, std::min(gray.cols, gray.rows) / 12);
        classifier->detectMultiScale(gray, boxes, 1.1, minimumNeighbours, 0, { minimum, minimum });
        if (alsoMirrored) {
            cv::Mat mirrored;
            cv::flip(gray, mirrored, 1);
            std::vector<cv::Rect> more;
            classifier->detectMultiScale(mirrored, more, 1.1, minimumNeighbours, 0, { minimum, minimum });
            for (auto box : more) {
                box.x = gray.cols - box.x - box.width;
                boxes.push_back(box);
            }
        }
        return boxes;
    };
}

std::function<std::vector<cv::Rect>(const cv::Mat&)> withFallback(std::function<std::vector<cv::Rect>(const cv::Mat&)> first, std::function<std::vector<cv::Rect>(const cv::Mat&)> second)
{
    return [first, second](const cv::Mat& gray) {
        auto boxes = first(gray);
        return boxes.empty() ? second(gray) : boxes;
    };
}

std::function<std::vector<cv::Rect>(const cv::Mat&)> dlibHOG(int upsampling)
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

bool isBodyMode = false;

bool matches(const cv::Rect& found, const cv::Rect& truth)
{
    // An upper-body detector draws head and shoulders, much less than the waist-high box: it
    // counts when it lies mostly inside the person.
    if (isBodyMode)
        return (found & truth).area() >= 0.5 * found.area();
    // Detectors draw their own idea of a face box (forehead to chin, inside the ears); a box
    // counts when it overlaps the tight box well or its centre lies inside it at a similar size.
    cv::Point centre(found.x + found.width / 2, found.y + found.height / 2);
    double ratio = double(found.height) / truth.height;
    return overlap(found, truth) >= 0.3 || (truth.contains(centre) && ratio > 0.5 && ratio < 2.0);
}

}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <faces directory>\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    std::ifstream groundTruthFile(folder + "/faces.json");
    auto groundTruth = nlohmann::json::parse(groundTruthFile);

    std::vector<Candidate> faceCandidates {
        { "haar frontalface_default", cascade("haarcascades/haarcascade_frontalface_default.xml", 5) },
        { "haar frontalface_alt", cascade("haarcascades/haarcascade_frontalface_alt.xml", 3) },
        { "haar frontalface_alt2", cascade("haarcascades/haarcascade_frontalface_alt2.xml", 3) },
        { "haar frontalface_alt_tree", cascade("haarcascades/haarcascade_frontalface_alt_tree.xml", 3) },
        { "lbp frontalface", cascade("lbpcascades/lbpcascade_frontalface.xml", 3) },
        { "lbp frontalface_improved", cascade("lbpcascades/lbpcascade_frontalface_improved.xml", 3) },
        { "haar profileface (both sides)", cascade("haarcascades/haarcascade_profileface.xml", 3, true) },
        { "lbp profileface (both sides)", cascade("lbpcascades/lbpcascade_profileface.xml", 3, true) },
        { "dlib HOG frontal", dlibHOG(0) },
        { "dlib HOG frontal, 2x upsampled", dlibHOG(1) },
        { "haar alt2, then haar profile", withFallback(cascade("haarcascades/haarcascade_frontalface_alt2.xml", 3), cascade("haarcascades/haarcascade_profileface.xml", 3, true)) },
        { "haar alt2, then haar profile (n=5)", withFallback(cascade("haarcascades/haarcascade_frontalface_alt2.xml", 3), cascade("haarcascades/haarcascade_profileface.xml", 5, true)) },
        { "haar alt2, then haar profile (n=8)", withFallback(cascade("haarcascades/haarcascade_frontalface_alt2.xml", 3), cascade("haarcascades/haarcascade_profileface.xml", 8, true)) },
        { "haar default, then haar profile", withFallback(cascade("haarcascades/haarcascade_frontalface_default.xml", 5), cascade("haarcascades/haarcascade_profileface.xml", 3, true)) },
        { "dlib 2x, then haar profile", withFallback(dlibHOG(1), cascade("haarcascades/haarcascade_profileface.xml", 3, true)) },
        { "haar alt2, then dlib 2x, then profile", withFallback(cascade("haarcascades/haarcascade_frontalface_alt2.xml", 3), withFallback(dlibHOG(1), cascade("haarcascades/haarcascade_profileface.xml", 3, true))) },
    };
    std::vector<Candidate> bodyCandidates {
        { "haar upperbody", cascade("haarcascades/haarcascade_upperbody.xml", 3) },
        { "haar fullbody", cascade("haarcascades/haarcascade_fullbody.xml", 3) },
    };

    std::vector<std::pair<std::string, cv::Mat>> images;
    std::vector<std::vector<cv::Rect>> truthFaces, truthPeople;
    std::vector<double> scales;
    for (auto& entry : groundTruth) {
        auto gray = displayGray(folder + "/" + entry["file"].get<std::string>());
        double scale = double(gray.cols) / entry["width"].get<int>();
        auto boxes = [&](const char* key) {
            std::vector<cv::Rect> result;
            for (auto& box : entry[key])
                result.emplace_back(box[0].get<int>() * scale, box[1].get<int>() * scale, box[2].get<int>() * scale, box[3].get<int>() * scale);
            return result;
        };
        images.emplace_back(entry["file"], gray);
        truthFaces.push_back(boxes("faces"));
        truthPeople.push_back(boxes("people"));
    }

    auto run = [&](const std::vector<Candidate>& candidates, const std::vector<std::vector<cv::Rect>>& truth) {
        for (auto& candidate : candidates) {
            int found = 0, total = 0, falseBoxes = 0;
            double seconds = 0;
            std::string missed;
            for (size_t i = 0; i < images.size(); ++i) {
                auto start = std::chrono::steady_clock::now();
                auto boxes = candidate.detect(images[i].second);
                seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                total += truth[i].size();
                for (auto& expected : truth[i]) {
                    bool hit = false;
                    for (auto& box : boxes)
                        hit = hit || matches(box, expected);
                    found += hit;
                    if (!hit)
                        missed += " " + images[i].first;
                }
                for (auto& box : boxes) {
                    bool isTrue = false;
                    for (auto& expected : truth[i])
                        isTrue = isTrue || matches(box, expected);
                    falseBoxes += !isTrue;
                    if (!isTrue)
                        missed += " [false: " + images[i].first + "]";
                }
            }
            std::printf("%-34s found %2d of %2d, %2d false boxes, %6.1f ms per photo; missed:%s\n", candidate.name.c_str(), found, total,
                falseBoxes, seconds * 1000 / images.size(), missed.c_str());
        }
    };
    std::printf("Faces (%zu photos, display size at most 800 pixels)\n", images.size());
    run(faceCandidates, truthFaces);
    std::printf("Upper bodies\n");
    isBodyMode = true;
    run(bodyCandidates, truthPeople);
    return 0;
}

// Prints how long a roster export takes on the demo tenant: a generated roster of 200 students
// (photos taken in turn from the demo set, served full size) from the command to the framing
// editor, split into reading, photo download and framing; then the framing of one 800-pixel
// photo on one core and of the whole set over the image workers. Not a test: it asserts nothing.
//
//   tests/engine/run-with-display tests/platform/run-with-services build/bin/halcyra-roster-benchmark
//
// HALCYRA_ROSTER_STUDENTS sets the roster's size (200 by default), HALCYRA_IMAGE_WORKERS the
// number of image workers (one per core, at most 4, by default).

#include "EngineSession.h"
#include "platform/vision/OpenCVPhotoFramer.h"
#include "roster/ContactExport.h"
#include "roster/FrameContacts.h"
#include "roster/RosterExporter.h"
#include "support/MainLoopTask.h"
#include "support/TemporaryFolder.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <thread>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// As the application runs it, one per core; HALCYRA_IMAGE_WORKERS sets another count.
unsigned imageWorkerCount()
{
    const char* count = std::getenv("HALCYRA_IMAGE_WORKERS");
    return count ? std::max(std::atoi(count), 1) : WorkerPool::coreCount(4);
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class RosterBenchmark : public EngineSessionTest { };

TEST_F(RosterBenchmark, exportFromCommandToFramingEditor)
{
    const char* size = std::getenv("HALCYRA_ROSTER_STUDENTS");
    int students = size ? std::atoi(size) : 200;
    TemporaryFolder downloads;
    auto run = startSignedIn(downloads.path());
    s_tenant->control("POST", "/roster", { { "generate", students } });

    OpenCVPhotoFramer framer;
    WorkerPool imageWork(run->runLoop, imageWorkerCount());
    CropSession session(run->runLoop, [&](std::vector<CropContact> contacts, std::string title) {
        return exportContacts(std::move(contacts), std::move(title), { framer, imageWork, run->downloadsFolder, run->downloadAnnouncer });
    });
    RosterExporter exporter({ run->runLoop, s_configuration->endpoints.tenantHost, framer, imageWork, session });
    exporter.attach(run->coordinator.webView());
    run->coordinator.webView()->load(*URL::parse("https://" + s_configuration->endpoints.tenantHost + "/ashgrove/d/task/1422$2579.htmld"));
    ASSERT_TRUE(runMainLoopUntil([&] { return exporter.isRosterPage(); }, 60s));

    // The stages, by the progress texts the user sees.
    auto start = Clock::now();
    std::optional<double> downloadStarted, framingStarted;
    auto observation = exporter.observeWillChange([&] {
        run->runLoop.post([&] {
            auto& text = exporter.progress();
            if (text && text->starts_with("Downloading") && !downloadStarted)
                downloadStarted = secondsSince(start);
            if (text && text->starts_with("Finding") && !framingStarted)
                framingStarted = secondsSince(start);
        });
    });
    exporter.exportRoster();
    ASSERT_TRUE(runMainLoopUntil([&] { return session.isPresented() || exporter.errorMessage(); }, 600s));
    double total = secondsSince(start);
    ASSERT_FALSE(exporter.errorMessage()) << *exporter.errorMessage();
    std::size_t withPhoto = std::ranges::count_if(session.contacts(), [](auto& contact) { return contact.display != nullptr; });
    std::printf("roster of %zu students (%zu photos framed), %u image workers on %u cores\n", session.contacts().size(), withPhoto,
        imageWorkerCount(), std::thread::hardware_concurrency());
    std::printf("  reading the roster   %6.2f s\n", downloadStarted.value_or(0));
    std::printf("  downloading photos   %6.2f s\n", framingStarted.value_or(0) - downloadStarted.value_or(0));
    std::printf("  framing photos       %6.2f s\n", total - framingStarted.value_or(0));
    std::printf("  command to editor    %6.2f s\n", total);
}

// Decoding to the display size and detection, for each photo of the demo set, on this thread
// alone; then the whole set over the image workers as the export runs it.
TEST_F(RosterBenchmark, framingPerPhoto)
{
    std::vector<std::string> photos;
    for (auto& file : std::filesystem::directory_iterator(HALCYRA_SHARED_DIR "/testdata/faces")) {
        if (file.path().extension() != ".json" && file.path().extension() != ".md")
            photos.push_back(contentsOf(file.path()));
    }
    ASSERT_FALSE(photos.empty());
    OpenCVPhotoFramer framer;
    framer.displayImage(photos[0], PhotoFramer::displayPixelSize); // loads the detectors
    detectCrop(framer, *framer.displayImage(photos[0], PhotoFramer::displayPixelSize));

    constexpr int rounds = 3;
    auto measure = [&](const std::vector<std::string>& set, const char* what) {
        double decoding = 0, detecting = 0;
        // A photo with a face ends its search there; one without goes on to the profile and
        // upper-body searches, at several times the cost.
        std::vector<double> withFace, withoutFace;
        for (int round = 0; round < rounds; ++round) {
            for (auto& bytes : set) {
                auto started = Clock::now();
                auto display = framer.displayImage(bytes, PhotoFramer::displayPixelSize);
                double decoded = secondsSince(started);
                started = Clock::now();
                if (display)
                    detectCrop(framer, *display);
                double detected = secondsSince(started);
                decoding += decoded;
                detecting += detected;
                bool hasFace = display && !framer.faces(*display).empty();
                (hasFace ? withFace : withoutFace).push_back((decoded + detected) * 1000);
            }
        }
        auto median = [](std::vector<double> times) {
            std::ranges::sort(times);
            return times.empty() ? 0.0 : times[times.size() / 2];
        };
        double count = rounds * set.size();
        std::printf("one core, %s: decoding %.1f ms, detection %.1f ms, framing %.1f ms per photo (%zu photos, %d rounds); median framing %.1f ms "
                    "with a face (%zu photos), %.1f ms without (%zu)\n",
            what, decoding * 1000 / count, detecting * 1000 / count, (decoding + detecting) * 1000 / count, set.size(), rounds, median(withFace),
            withFace.size() / rounds, median(withoutFace), withoutFace.size() / rounds);
    };
    measure(photos, "photos as stored");
    // The same photos as 800-pixel JPEGs, the size a roster usually serves.
    std::vector<std::string> reduced;
    for (auto& bytes : photos) {
        auto display = framer.displayImage(bytes, PhotoFramer::displayPixelSize);
        if (!display)
            continue;
        cv::Mat rgb(display->height, display->width, CV_8UC3, display->rgb.data()), bgr;
        cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
        std::vector<unsigned char> jpeg;
        cv::imencode(".jpg", bgr, jpeg, { cv::IMWRITE_JPEG_QUALITY, 90 });
        reduced.emplace_back(jpeg.begin(), jpeg.end());
    }
    measure(reduced, "as 800-pixel JPEGs");

    // The export's own path: every photo framed through frameContacts, on one image worker and
    // then on as many as the export uses, one right after the other so that both see the same
    // load.
    GLibRunLoop loop;
    std::vector<Student> students(rounds * photos.size());
    PhotoMap photoMap;
    for (std::size_t i = 0; i < students.size(); ++i)
        photoMap[i] = photos[i % photos.size()];
    for (auto workers : { 1u, imageWorkerCount() }) {
        WorkerPool imageWork(loop, workers);
        auto started = Clock::now();
        auto contacts = runOnMainLoop(frameContacts(students, photoMap, framer, imageWork, nullptr));
        double seconds = secondsSince(started);
        std::printf("frameContacts: %.1f ms per photo over %u image workers (%zu photos, %.2f s)\n", seconds * 1000 / students.size(), workers,
            students.size(), seconds);
    }
}

}

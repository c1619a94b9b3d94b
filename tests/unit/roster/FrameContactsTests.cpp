#include "roster/FrameContacts.h"
#include "support/RunTask.h"
#include "support/VirtualRunLoop.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace halcyra {
namespace {

    using namespace std::chrono_literals;

    // Decodes "image:N" to an image N pixels wide, N from 1 to 3, but lets photo N finish
    // only after the wider ones: photos framed side by side finish in reverse order. A wait gives
    // up after two seconds, so that photos framed one after another finish in order.
    class ReverseFinishingFramer final : public PhotoFramer {
    public:
        std::optional<DisplayImage> displayImage(std::string_view bytes, std::optional<int>) override
        {
            int width = std::stoi(std::string(bytes.substr(6)));
            std::unique_lock lock(m_lock);
            ++startedCount;
            m_changed.notify_all();
            m_changed.wait_for(lock, 2s, [&] { return m_isReleased || int(finished.size()) == 3 - width; });
            finished.push_back(width);
            m_changed.notify_all();
            return DisplayImage { width, width, {} };
        }
        std::vector<PixelBox> faces(const DisplayImage&) override { return {}; }
        std::vector<PixelBox> upperBodies(const DisplayImage&) override { return {}; }
        std::optional<std::string> cropJPEG(std::string_view, const CropRect&) override { return std::nullopt; }

        bool waitUntilStarted(int count)
        {
            std::unique_lock lock(m_lock);
            return m_changed.wait_for(lock, 2s, [&] { return startedCount >= count; });
        }
        void releaseAll()
        {
            std::lock_guard lock(m_lock);
            m_isReleased = true;
            m_changed.notify_all();
        }

        // Read once the workers' answers have reached the loop.
        int startedCount { 0 };
        std::vector<int> finished;

    private:
        std::mutex m_lock;
        std::condition_variable m_changed;
        bool m_isReleased { false };
    };

    using Contacts = std::optional<std::vector<CropContact>>;

    Task<void> keep(Task<Contacts> task, std::optional<Contacts>& result)
    {
        result = co_await std::move(task);
    }

    class FrameContactsTest : public ::testing::Test {
    protected:
        std::vector<Student> students { 4 };
        PhotoMap photos { { 0, "image:1" }, { 2, "image:2" }, { 3, "image:3" } };
        ReverseFinishingFramer framer;
        VirtualRunLoop loop;
    };

    // The export begins each photo as it downloads (here the last); the rest are begun with the
    // roster, side by side, none twice.
    TEST_F(FrameContactsTest, photosFramedSideBySideAsTheyDownloadComeBackOnceInRosterOrder)
    {
        WorkerPool imageWork { loop, 3 };
        PhotoFramings framings(framer, imageWork);
        framings.start(3, "image:3");
        EXPECT_TRUE(framer.waitUntilStarted(1)) << "not begun before the whole roster is there";
        std::vector<std::string> texts;
        auto contacts = runTask(loop, frameContacts(students, photos, framings, [&](const std::string& text) { texts.push_back(text); }), [&] { ASSERT_TRUE(loop.runPostedWork()); });

        EXPECT_EQ(framer.finished, (std::vector { 3, 2, 1 })) << "not framed side by side, or framed twice";
        ASSERT_TRUE(contacts);
        std::vector<int> widths;
        for (auto& contact : *contacts)
            widths.push_back(contact.display ? contact.display->width : 0);
        EXPECT_EQ(widths, (std::vector { 1, 0, 2, 3 }));
        EXPECT_EQ(texts, (std::vector<std::string> { "Finding faces (1 of 3)\u2026", "Finding faces (2 of 3)\u2026", "Finding faces (3 of 3)\u2026" }));
    }

    // The answers of the photos under way arrive after the task ended, and are dropped.
    TEST_F(FrameContactsTest, cancellingWhilePhotosAreFramedGivesNothingAndStartsNoMore)
    {
        std::optional<Contacts> result;
        {
            WorkerPool imageWork { loop, 2 };
            auto handle = spawn(loop, keep(frameContacts(students, photos, framer, imageWork, nullptr), result));
            EXPECT_TRUE(framer.waitUntilStarted(2)) << "not framed side by side";
            handle.cancel();
            loop.runUntilIdle();
            framer.releaseAll();
        }
        loop.runUntilIdle();
        ASSERT_TRUE(result);
        EXPECT_FALSE(*result);
        EXPECT_EQ(framer.startedCount, 2);
    }

}
}

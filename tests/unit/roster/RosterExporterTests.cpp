#include "roster/PhotoDownload.h"
#include "roster/RosterDecoding.h"
#include "roster/RosterExporter.h"
#include "roster/RosterScripts.h"
#include "roster/VCard.h"
#include "support/FakePhotoFramer.h"
#include "support/FakeWebEngine.h"
#include "support/LogCapture.h"
#include "support/VirtualRunLoop.h"

#include <gtest/gtest.h>
#include <map>

namespace halcyra {
namespace {

    nlohmann::json student(std::string first, std::string photo = {}, nlohmann::json sections = nlohmann::json::array())
    {
        return { { "first", first }, { "last", "Lee" }, { "email", first + "@ashgrove.test" }, { "classOf", "2027" }, { "programs", "" }, { "sections", sections }, { "photo", photo.empty() ? nlohmann::json() : nlohmann::json(photo) } };
    }

    class RosterExporterTest : public ::testing::Test {
    protected:
        RosterExporterTest()
        {
            exporter.attach(view);
            view->scriptResponder = [this](const FakeWebView::PendingScript& script) -> std::optional<ScriptReply> {
                if (script.source == rosterWaitScript())
                    return waitAnswer;
                if (script.source == rosterReadScript())
                    return readAnswer;
                return std::nullopt;
            };
        }

        void showRosterPage(const std::string& host = "wd5.myworkday.test", const std::string& title = "View Course Section Detailed Roster: COMP 112")
        {
            view->changeURL(URL::parse("https://" + host + "/ashgrove/d/task/1422$2579.htmld"));
            view->setTitle(title);
            loop.runUntilIdle();
        }

        // Answers photo fetches until the session shows the contacts.
        void finishExport(std::function<ScriptReply(const std::string& url)> answer)
        {
            while (!session.isPresented() && exporter.progress()) {
                while (!view->pendingScripts().empty()) {
                    auto script = std::move(view->pendingScripts().front());
                    view->pendingScripts().pop_front();
                    maximumInFlight = std::max(maximumInFlight, view->pendingScripts().size() + 1);
                    script.completion(answer(script.arguments->at("url").get<std::string>()));
                }
                if (!session.isPresented() && exporter.progress()) {
                    ASSERT_TRUE(loop.runPostedWork());
                }
            }
        }

        VirtualRunLoop loop;
        FakePhotoFramer framer;
        WorkerPool imageWork { loop, 1 };
        CropSession session { loop, [](std::vector<CropContact>, std::string) -> Task<ContactExportResult> { co_return ContactExportResult {}; } };
        RosterExporter exporter { { loop, "wd5.myworkday.test", framer, imageWork, session } };
        std::shared_ptr<FakeWebView> view { std::make_shared<FakeWebView>(WebViewConfiguration {}) };
        std::optional<ScriptReply> waitAnswer { ScriptReply::success(true) };
        std::optional<ScriptReply> readAnswer;
        std::size_t maximumInFlight { 0 };
        LogCapture log;
    };

    TEST_F(RosterExporterTest, confirmsOnlyTheRosterTitleOnTheTenantWithRowsShown)
    {
        struct Case {
            const char* name;
            std::string host;
            std::string title;
            std::optional<ScriptReply> wait;
            bool expected;
        };
        const Case cases[] = {
            { "longer roster title", "wd5.myworkday.test", "View Course Section Detailed Roster - COMP 112-01", ScriptReply::success(true), true },
            { "other host", "webapps.ashgrove.test", "View Course Section Detailed Roster", ScriptReply::success(true), false },
            { "lower case title", "wd5.myworkday.test", "view course section detailed roster", ScriptReply::success(true), false },
            { "table without rows", "wd5.myworkday.test", "View Course Section Detailed Roster", ScriptReply::success(false), false },
            { "script answered text", "wd5.myworkday.test", "View Course Section Detailed Roster", ScriptReply::success("true"), false },
            { "script failed", "wd5.myworkday.test", "View Course Section Detailed Roster", ScriptReply::failure("navigated"), false },
        };
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            view->setTitle("");
            waitAnswer = testCase.wait;
            showRosterPage(testCase.host, testCase.title);
            EXPECT_EQ(exporter.isRosterPage(), testCase.expected);
        }

        // The page changes while the wait script runs: the late answer publishes nothing.
        waitAnswer.reset();
        showRosterPage();
        ASSERT_EQ(view->pendingScripts().size(), 1u);
        view->changeURL(URL::parse("https://wd5.myworkday.test/ashgrove/d/home.htmld"));
        view->answerScript(ScriptReply::success(true));
        loop.runUntilIdle();
        EXPECT_FALSE(exporter.isRosterPage());
    }

    TEST_F(RosterExporterTest, requestedExportRunsOnlyWithinFiveMinutesAndOnce)
    {
        // A roster page that never shows a row still ends a requested export in its message.
        readAnswer = ScriptReply::success(nullptr);
        const std::tuple<Seconds, bool, bool> cases[] = {
            { Seconds(299.5), true, true },
            { Seconds(300), true, false },
            { Seconds(299.5), false, true },
            { Seconds(300), false, false },
        };
        for (auto [age, hasRows, exports] : cases) {
            SCOPED_TRACE(testing::Message() << age.count() << (hasRows ? " with rows" : " without rows"));
            waitAnswer = ScriptReply::success(hasRows);
            view->setTitle("");
            loop.runUntilIdle();
            exporter.clearErrorMessage();
            exporter.autoExportRequested = loop.now();
            loop.advance(age);
            showRosterPage();
            EXPECT_EQ(exporter.errorMessage().has_value(), exports) << "the read ran and found no table";
            EXPECT_EQ(exporter.errorMessage().value_or(""), exports ? "The roster table couldn't be read. Try again once the page has finished loading." : "");
            exporter.clearErrorMessage();
            view->setTitle("");
            showRosterPage();
            EXPECT_FALSE(exporter.errorMessage()) << "a request is used once";
        }
    }

    TEST_F(RosterExporterTest, malformedRosterEndsInItsMessage)
    {
        auto roster = [](nlohmann::json students, nlohmann::json total = nullptr) {
            return ScriptReply::success(nlohmann::json { { "total", total }, { "students", students } }.dump());
        };
        auto withKey = [](const char* key, nlohmann::json value) {
            auto entry = student("Ana");
            entry[key] = value;
            return entry;
        };
        const std::string format = "The data couldn't be read because it isn't in the correct format.";
        struct Case {
            const char* name;
            ScriptReply read;
            std::string message;
        };
        const Case cases[] = {
            { "no table", ScriptReply::success(nullptr), "The roster table couldn't be read. Try again once the page has finished loading." },
            { "script failed", ScriptReply::failure("A JavaScript exception occurred"), "A JavaScript exception occurred" },
            { "no students", roster(nlohmann::json::array(), 12), "The roster has no students." },
            { "not JSON", ScriptReply::success("{\"total\":"), format },
            { "total as text", roster({ student("Ana") }, "3"), format },
            { "name as number", roster({ withKey("first", 5) }), format },
            { "sections as text", roster({ withKey("sections", "COMP 112") }), format },
            { "photo as number", roster({ withKey("photo", 7) }), format },
            { "missing key", ScriptReply::success(R"({"students":[]})"), format },
        };
        showRosterPage();
        for (auto& testCase : cases) {
            SCOPED_TRACE(testCase.name);
            readAnswer = testCase.read;
            exporter.exportRoster();
            loop.runUntilIdle();
            ASSERT_TRUE(exporter.errorMessage());
            EXPECT_EQ(exporter.errorMessage()->substr(0, testCase.message.size()), testCase.message);
            EXPECT_FALSE(exporter.progress());
            EXPECT_TRUE(log.contains("[Roster] export failed: " + *exporter.errorMessage()));
            exporter.clearErrorMessage();
        }
    }

    TEST_F(RosterExporterTest, photosComeThroughThePageFourAtATimeAndBadOnesAreLeftOut)
    {
        const std::string attachment = "https://wd5.myworkday.test/ashgrove/attachment/";
        nlohmann::json students = nlohmann::json::array();
        const char* photos[] = { "good", "text", "huge", "badbase64", "fails", "good2", "good3", "null", "good4" };
        for (auto* photo : photos)
            students.push_back(student(photo, attachment + photo + ".jpg", { "COMP 112-01" }));
        students.push_back(student("Other", "https://evilmyworkday.test/ashgrove/attachment/x.jpg"));
        students.push_back(student("Plain", "http://wd5.myworkday.test/ashgrove/attachment/x.jpg"));
        students.push_back(student("Outside", "https://wd5.myworkday.test/ashgrove/d/x.jpg"));
        readAnswer = ScriptReply::success(nlohmann::json { { "total", 14 }, { "students", students } }.dump());
        showRosterPage();

        std::vector<std::string> progress;
        // Told before each change, so each text shows up as the one being replaced.
        auto observation = exporter.observeWillChange([&] { progress.push_back(exporter.progress().value_or("")); });
        const std::map<std::string, ScriptReply> badPhotos {
            { "text.jpg", ScriptReply::success(base64Encoded("plain text, no image")) },
            { "huge.jpg", ScriptReply::success(std::string(maximumPhotoBytes / 3 * 4 + 8, 'A')) },
            { "badbase64.jpg", ScriptReply::success("aW1hZ2U6\n") },
            { "fails.jpg", ScriptReply::failure("Load failed") },
            { "null.jpg", ScriptReply::success(nullptr) },
        };
        std::vector<std::string> fetched;
        exporter.exportRoster();
        finishExport([&](const std::string& url) {
            fetched.push_back(url);
            auto bad = badPhotos.find(url.substr(attachment.size()));
            return bad == badPhotos.end() ? ScriptReply::success(base64Encoded("image:40x30")) : bad->second;
        });

        ASSERT_TRUE(session.isPresented());
        EXPECT_EQ(fetched.size(), 9u) << "only https attachments on the tenant are fetched";
        EXPECT_EQ(maximumInFlight, 4u);
        ASSERT_EQ(session.contacts().size(), 12u);
        std::vector<bool> hasPhoto;
        for (auto& contact : session.contacts())
            hasPhoto.push_back(contact.display != nullptr);
        EXPECT_EQ(hasPhoto, (std::vector<bool> { true, false, false, false, false, true, true, false, true, false, false, false }));
        EXPECT_EQ(session.title(), "COMP 112");
        EXPECT_FALSE(exporter.progress());
        EXPECT_TRUE(log.contains("[Roster] photo download failed: Load failed"));
        EXPECT_TRUE(log.contains("[Roster] read 12 of 14 rows"));
        std::vector<std::string> downloads;
        std::ranges::copy_if(progress, std::back_inserter(downloads), [](auto& text) { return text.starts_with("Downloading"); });
        ASSERT_EQ(downloads.size(), 10u);
        for (std::size_t i = 0; i < downloads.size(); ++i)
            EXPECT_EQ(downloads[i], "Downloading photos (" + std::to_string(i) + " of 9)\u2026");
        EXPECT_EQ(progress.at(1), "Reading the roster\u2026");
        EXPECT_EQ(progress.back(), "Finding faces (5 of 5)\u2026");
    }

    TEST(Base64, acceptsOnlyTheStandardAlphabetWithItsFill)
    {
        const std::pair<std::string, std::optional<std::string>> cases[] = {
            { "", "" },
            { "TWFu", "Man" },
            { "TWE=", "Ma" },
            { "TQ==", "M" },
            { "+/+/", "\xfb\xff\xbf" },
            { "TQ", std::nullopt },
            { "TWE=\n", std::nullopt },
            { "-_-_", std::nullopt },
            { "T===", std::nullopt },
            { "TQ==TWFu", std::nullopt },
        };
        for (auto& [text, bytes] : cases)
            EXPECT_EQ(decodeBase64(text), bytes) << text;
    }

}
}

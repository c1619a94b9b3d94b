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

    // Whether a page is the roster (its title on the tenant, with rows shown), and how an export
    // ends that the user starts there or the menu asked for. A menu request is used once, within
    // five minutes, and also on a roster page that never shows a row, so that it ends in the
    // message that says why.
    TEST_F(RosterExporterTest, rosterPageIsConfirmedAndEachFailedExportEndsInItsMessage)
    {
        auto roster = [](nlohmann::json students, nlohmann::json total = nullptr) {
            return ScriptReply::success(nlohmann::json { { "total", total }, { "students", students } }.dump());
        };
        auto withKey = [](const char* key, nlohmann::json value) {
            auto entry = student("Ana");
            entry[key] = value;
            return entry;
        };
        const std::string tenant = "wd5.myworkday.test", title = "View Course Section Detailed Roster";
        const std::string format = "The data couldn't be read because it isn't in the correct format.";
        const std::string noTable = "The roster table couldn't be read. Try again once the page has finished loading.";
        const auto rows = ScriptReply::success(true), noRows = ScriptReply::success(false), nothing = ScriptReply::success(nullptr);
        // The menu asked this long before; without a request the user exports when a read is given.
        using Case = std::tuple<const char*, std::string, std::string, ScriptReply, std::optional<Seconds>, std::optional<ScriptReply>, bool, std::string>;
        const Case cases[] = {
            { "longer roster title", tenant, title + " - COMP 112-01", rows, {}, {}, true, "" },
            { "other host", "webapps.ashgrove.test", title, rows, {}, {}, false, "" },
            { "lower case title", tenant, "view course section detailed roster", rows, {}, {}, false, "" },
            { "table without rows", tenant, title, noRows, {}, {}, false, "" },
            { "script answered text", tenant, title, ScriptReply::success("true"), {}, {}, false, "" },
            { "script failed", tenant, title, ScriptReply::failure("navigated"), {}, {}, false, "" },
            { "request in time", tenant, title, rows, Seconds(299.5), nothing, true, noTable },
            { "request too old", tenant, title, rows, Seconds(300), nothing, true, "" },
            { "request in time without rows", tenant, title, noRows, Seconds(299.5), nothing, false, noTable },
            { "request too old without rows", tenant, title, noRows, Seconds(300), nothing, false, "" },
            { "read script failed", tenant, title, rows, {}, ScriptReply::failure("A JavaScript exception occurred"), true, "A JavaScript exception occurred" },
            { "no students", tenant, title, rows, {}, roster(nlohmann::json::array(), 12), true, "The roster has no students." },
            { "not JSON", tenant, title, rows, {}, ScriptReply::success("{\"total\":"), true, format },
            { "total as text", tenant, title, rows, {}, roster({ student("Ana") }, "3"), true, format },
            { "name as number", tenant, title, rows, {}, roster({ withKey("first", 5) }), true, format },
            { "sections as text", tenant, title, rows, {}, roster({ withKey("sections", "COMP 112") }), true, format },
            { "photo as number", tenant, title, rows, {}, roster({ withKey("photo", 7) }), true, format },
            { "missing key", tenant, title, rows, {}, ScriptReply::success(R"({"students":[]})"), true, format },
        };
        for (auto& [name, host, pageTitle, wait, requested, read, isRosterPage, message] : cases) {
            SCOPED_TRACE(name);
            view->setTitle("");
            loop.runUntilIdle();
            exporter.clearErrorMessage();
            waitAnswer = wait;
            readAnswer = read;
            if (requested) {
                exporter.autoExportRequested = loop.now();
                loop.advance(*requested);
            }
            showRosterPage(host, pageTitle);
            EXPECT_EQ(exporter.isRosterPage(), isRosterPage);
            if (read && !requested) {
                exporter.exportRoster();
                loop.runUntilIdle();
            }
            EXPECT_EQ(exporter.errorMessage().value_or("").substr(0, message.size()), message);
            EXPECT_EQ(exporter.errorMessage().has_value(), !message.empty());
            EXPECT_FALSE(exporter.progress());
            EXPECT_TRUE(!exporter.errorMessage() || log.contains("[Roster] export failed: " + *exporter.errorMessage()));
            exporter.clearErrorMessage();
            view->setTitle("");
            showRosterPage(host, pageTitle);
            EXPECT_FALSE(exporter.errorMessage()) << "a request is used once";
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

    // Only https attachments on the tenant are fetched, four at a time; a photo the page could not
    // fetch, too large, not base64 or no image is left out and the student kept.
    TEST_F(RosterExporterTest, photosComeThroughThePageFourAtATimeAndBadOnesAreLeftOut)
    {
        const std::string attachment = "https://wd5.myworkday.test/ashgrove/attachment/";
        const std::map<std::string, ScriptReply> photos {
            { "good", ScriptReply::success(base64Encoded("image:40x30")) },
            { "text", ScriptReply::success(base64Encoded("plain text, no image")) },
            { "huge", ScriptReply::success(std::string(maximumPhotoBytes / 3 * 4 + 8, 'A')) },
            { "badbase64", ScriptReply::success("aW1hZ2U6\n") },
            { "fails", ScriptReply::failure("Load failed") },
            { "good2", ScriptReply::success(base64Encoded("image:40x30")) },
            { "good3", ScriptReply::success(base64Encoded("image:40x30")) },
            { "null", ScriptReply::success(nullptr) },
            { "good4", ScriptReply::success(base64Encoded("image:40x30")) },
        };
        nlohmann::json students = nlohmann::json::array();
        for (auto& [name, reply] : photos)
            students.push_back(student(name, attachment + name + ".jpg", { "COMP 112-01" }));
        students.push_back(student("Other", "https://evilmyworkday.test/ashgrove/attachment/x.jpg"));
        students.push_back(student("Plain", "http://wd5.myworkday.test/ashgrove/attachment/x.jpg"));
        students.push_back(student("Outside", "https://wd5.myworkday.test/ashgrove/d/x.jpg"));
        readAnswer = ScriptReply::success(nlohmann::json { { "total", 14 }, { "students", students } }.dump());
        showRosterPage();

        std::vector<std::string> progress;
        // Told before each change, so each text shows up as the one being replaced.
        auto observation = exporter.observeWillChange([&] { progress.push_back(exporter.progress().value_or("")); });
        exporter.exportRoster();
        // Any other address fetched is no key of the map.
        finishExport([&](const std::string& url) { return photos.at(url.substr(attachment.size(), url.size() - attachment.size() - 4)); });

        ASSERT_TRUE(session.isPresented());
        EXPECT_EQ(maximumInFlight, 4u);
        ASSERT_EQ(session.contacts().size(), 12u);
        std::vector<std::string> framed;
        for (auto& contact : session.contacts()) {
            if (contact.display)
                framed.push_back(contact.student.first);
        }
        EXPECT_EQ(framed, (std::vector<std::string> { "good", "good2", "good3", "good4" }));
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

#include "EngineSession.h"
#include "platform/OpenCVPhotoFramer.h"
#include "roster/ContactExport.h"
#include "roster/RosterExporter.h"
#include "support/FakeKeychain.h"
#include "support/MainLoopTask.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

using RosterExportTest = EngineSessionTest;

nlohmann::json demoRoster()
{
    std::ifstream file(HALCYRA_SHARED_DIR "/demo-tenant/roster.json");
    return nlohmann::json::parse(file);
}

// The cards the export should write for the demo roster's students, in roster order.
nlohmann::json expectedCards(const std::vector<Student>& students, const nlohmann::json& roster)
{
    auto cards = nlohmann::json::array();
    for (auto& student : students) {
        nlohmann::json source;
        for (auto& entry : roster["students"]) {
            if (entry["first"] == student.first && entry["last"] == student.last)
                source = entry;
        }
        // Sections in the order the page lists them; that they are the right ones is checked
        // against the roster file.
        std::string sections;
        for (auto& section : student.sections)
            sections += (sections.empty() ? "" : ", ") + section;
        std::string note = source["classOf"].get<std::string>().empty() ? "" : "Class of " + source["classOf"].get<std::string>();
        if (!source["programs"].get<std::string>().empty())
            note += (note.empty() ? "" : "\n") + source["programs"].get<std::string>();
        auto photo = source["photo"].is_string() ? source["photo"].get<std::string>() : "";
        bool hasPhoto = !photo.empty() && source["photoStyle"] != "external" && !photo.ends_with(".txt");
        auto orNull = [](const std::string& text) { return text.empty() ? nlohmann::json() : nlohmann::json(text); };
        cards.push_back({ { "n", { student.last, student.first } }, { "fn", student.first + " " + student.last }, { "email", orNull(source["email"]) }, { "title", orNull(sections) }, { "note", orNull(note) }, { "photo", hasPhoto } });
    }
    return cards;
}

TEST_F(RosterExportTest, readsEveryStudentOnceAndWritesCardsWithThePhotosOfTheSignedInPage)
{
    auto downloads = std::filesystem::path(::mkdtemp((std::filesystem::temp_directory_path() / "halcyra-roster-XXXXXX").string().data()));
    // Credentials from an in-memory keychain: this test is about the roster, not the keyring.
    FakeKeychain keychain;
    runOnMainLoop(KeychainStore(keychain, m_settings).save("demo", "ashgrove-demo"));
    auto run = std::make_unique<SessionRun>(*s_engine, *s_configuration, m_settings, keychain, downloads);
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 60s));
    OpenCVPhotoFramer framer;
    WorkerPool imageWork(run->runLoop, 1);
    CropSession session(run->runLoop, [&](std::vector<CropContact> contacts, std::string title) {
        return exportContacts(std::move(contacts), std::move(title), { framer, imageWork, run->downloadsFolder, run->downloadAnnouncer });
    });
    RosterExporter exporter({ run->runLoop, s_configuration->endpoints.tenantHost, framer, imageWork, session });
    exporter.attach(run->coordinator.webView());

    exporter.autoExportRequested = run->runLoop.now();
    run->coordinator.webView()->load(*URL::parse("https://" + s_configuration->endpoints.tenantHost + "/ashgrove/d/task/1422$2579.htmld"));
    ASSERT_TRUE(runMainLoopUntil([&] { return exporter.isRosterPage(); }, 30s));
    ASSERT_TRUE(runMainLoopUntil([&] { return session.isPresented() || exporter.errorMessage(); }, 180s));
    ASSERT_FALSE(exporter.errorMessage()) << *exporter.errorMessage();
    EXPECT_FALSE(exporter.progress());
    // The page keeps only a window of its rows in the table, as Workday does: every student
    // below was found by scrolling.
    auto tableRows = run->evaluate("document.querySelectorAll('[data-automation-id=\"tableWrapper\"] tbody tr').length");
    ASSERT_FALSE(tableRows.isError()) << tableRows.errorMessage;
    EXPECT_LE(tableRows.value->get<int>(), 20);

    auto roster = demoRoster();
    std::vector<Student> students;
    for (auto& contact : session.contacts())
        students.push_back(contact.student);
    std::vector<std::string> expectedNames, readNames;
    for (auto& entry : roster["students"]) {
        if (!entry["first"].get<std::string>().empty() || !entry["last"].get<std::string>().empty())
            expectedNames.push_back(entry["first"].get<std::string>() + " " + entry["last"].get<std::string>());
    }
    for (auto& student : students) {
        readNames.push_back(student.first + " " + student.last);
        for (auto& entry : roster["students"]) {
            if (entry["first"] == student.first && entry["last"] == student.last) {
                EXPECT_EQ(std::set<std::string>(student.sections.begin(), student.sections.end()), entry["sections"].get<std::set<std::string>>()) << student.first;
            }
        }
    }
    std::ranges::sort(expectedNames);
    std::ranges::sort(readNames);
    EXPECT_EQ(readNames, expectedNames) << "every student once";

    session.exportContacts();
    ASSERT_TRUE(runMainLoopUntil([&] { return !session.isPresented() || session.errorMessage(); }, 120s));
    ASSERT_FALSE(session.errorMessage()) << *session.errorMessage();
    ASSERT_EQ(run->downloadAnnouncer.announcedPaths.size(), 1u);
    auto file = run->downloadAnnouncer.announcedPaths[0];
    std::ofstream(downloads / "expected.json") << expectedCards(students, roster).dump();
    auto command = std::string(HALCYRA_SOURCE_DIR "/tests/roster/check-vcard.py '") + file.string() + "' '" + (downloads / "expected.json").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::filesystem::remove_all(downloads);
}

}

int main(int argc, char** argv)
{
    return runEngineTests(argc, argv);
}

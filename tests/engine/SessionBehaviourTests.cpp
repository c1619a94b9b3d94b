#include "EngineSession.h"
#include "EngineTestSupport.h"
#include "platform/GRefPtr.h"
#include "platform/RecentFilesAnnouncer.h"
#include "support/LogCapture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

class SessionBehaviourTest : public EngineSessionTest {
protected:
    std::string tenantURL(const std::string& path) const { return "https://" + s_configuration->endpoints.tenantHost + path; }

    // The home page renders its content by script after load: waits for one of its controls.
    static bool waitForElement(SessionRun& run, const std::string& automationID)
    {
        auto script = "!!document.querySelector('[data-automation-id=\"" + automationID + "\"]')";
        return runMainLoopUntil([&] {
            auto result = run.evaluate(script);
            return !result.isError() && *result.value == true;
        });
    }

    // A click as a page script makes it: the element's own click().
    static void click(SessionRun& run, const std::string& automationID)
    {
        ASSERT_TRUE(waitForElement(run, automationID)) << automationID;
        auto result = run.evaluate("document.querySelector('[data-automation-id=\"" + automationID + "\"]').click(), true");
        ASSERT_FALSE(result.isError()) << result.errorMessage;
    }

    static bool hasFinishedLoading(SessionRun& run, const std::string& urlString)
    {
        auto url = run.url();
        return url && url->string() == urlString && !run.coordinator.webView()->isLoading();
    }
};

std::filesystem::path makeTemporaryFolder(const std::string& name)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    return ::mkdtemp(pattern.data());
}

std::string firstBytes(const std::filesystem::path& path, std::size_t count)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes(count, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

}

TEST_F(SessionBehaviourTest, brokenSignInFlowIsStartedOverOnceThenLeftForTheUser)
{
    LogCapture log;
    saveCredentials("ashgrove-demo");
    s_tenant->control("POST", "/broken-flow", { { "on", true } });
    auto run = start();
    // Loads of the entry URL made while the broken CAS page shows.
    int entryLoads = 0;
    auto entryObservation = run->coordinator.webView()->observeURL([&](const std::optional<URL>& oldURL, const std::optional<URL>& newURL) {
        if (oldURL && oldURL->host() == s_configuration->endpoints.ssoHost && newURL && newURL->host() == s_configuration->endpoints.entryHost)
            ++entryLoads;
    });

    // The first broken page starts the sign-in over from the entry URL; the second, moments
    // later, is left for the user.
    ASSERT_TRUE(runMainLoopUntil([&] { return log.contains("[Workday] CAS flow broke again; waiting for the user"); }, 30s));
    EXPECT_EQ(log.count("[Workday] CAS flow broke (https://" + s_configuration->endpoints.ssoHost + "); starting the sign-in over"), 1);
    EXPECT_EQ(entryLoads, 1);
    EXPECT_EQ(run->poller.lastState(), PollState::signingIn());

    // Nothing more happens by itself while the user has not acted.
    runMainLoopFor(3s);
    EXPECT_EQ(entryLoads, 1);
    EXPECT_EQ(passwordSubmissions(), 0);

    // Ten minutes on, a new breakage is started over once more.
    run->runLoop.shiftClock(601s);
    log.clear();
    run->coordinator.loadEntry(*run->coordinator.webView());
    ASSERT_TRUE(runMainLoopUntil([&] { return log.contains("[Workday] CAS flow broke again; waiting for the user"); }, 30s));
    EXPECT_EQ(log.count("[Workday] CAS flow broke (https://" + s_configuration->endpoints.ssoHost + "); starting the sign-in over"), 1);
    EXPECT_EQ(entryLoads, 3);

    // Once CAS works again, the user's own reload signs in with the saved password.
    s_tenant->control("POST", "/broken-flow", { { "on", false } });
    run->coordinator.loadEntry(*run->coordinator.webView());
    EXPECT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 30s)) << (run->url() ? run->url()->string() : "no URL");
    EXPECT_EQ(passwordSubmissions(), 1);
}

TEST_F(SessionBehaviourTest, offlineLoadIsRetriedAfterFiveSecondsThenAtOnceWhenTheNetworkReturns)
{
    LogCapture log;
    saveCredentials("ashgrove-demo");
    s_tenant->control("POST", "/offline", { { "offline", true } });
    auto run = start();

    // The first failure waits 5 s; that retry fails too and doubles the wait.
    ASSERT_TRUE(runMainLoopUntil([&] { return log.containsSubstring("; retrying in 5 s"); }, 20s));
    ASSERT_TRUE(runMainLoopUntil([&] { return log.containsSubstring("; retrying in 10 s"); }, 20s));
    EXPECT_TRUE(run->coordinator.recovery().hasPendingLoadRetry());

    // The network goes away and comes back: the pending retry runs now, not in 10 s.
    run->networkPathMonitor.send(false);
    s_tenant->control("POST", "/offline", { { "offline", false } });
    run->networkPathMonitor.send(true);
    EXPECT_TRUE(log.contains("[Workday] network is back"));
    EXPECT_FALSE(run->coordinator.recovery().hasPendingLoadRetry());
    EXPECT_GE(run->poller.refreshCount, 1);

    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 30s)) << (run->url() ? run->url()->string() : "no URL");
    EXPECT_EQ(passwordSubmissions(), 1);
    // A finished navigation starts the back-off over.
    EXPECT_EQ(run->coordinator.recovery().loadRetryDelay(), 5s);
}

TEST_F(SessionBehaviourTest, rememberDevicePromptIsAnsweredOnTheWayHome)
{
    s_tenant->control("POST", "/remember-device", { { "on", true } });
    auto run = startSignedIn();
    ASSERT_TRUE(run->isOnHomePage());
    auto prompt = s_tenant->state()["rememberDevicePrompt"];
    EXPECT_EQ(prompt["shown"], 1);
    EXPECT_EQ(prompt["submitted"], 1);
    EXPECT_EQ(prompt["trusted"], 1);
}

TEST_F(SessionBehaviourTest, workdayAppBannerIsClosed)
{
    auto run = startSignedIn();
    ASSERT_TRUE(run->isOnHomePage());
    // The page shows the banner once it has rendered; the application closes it soon after.
    ASSERT_TRUE(waitForElement(*run, "mobileAppBanner"));
    EXPECT_TRUE(runMainLoopUntil([&] {
        auto result = run->evaluate("!!document.querySelector('[data-automation-id=\"mobileAppBanner\"]')");
        return !result.isError() && *result.value == false;
    },
        10s));
    // The rest of the page stays.
    EXPECT_TRUE(waitForElement(*run, "inbox_preview"));
}

TEST_F(SessionBehaviourTest, linksStayInTheViewOrGoToTheDefaultBrowser)
{
    auto run = startSignedIn();
    ASSERT_TRUE(run->isOnHomePage());
    auto homeURL = run->url()->string();

    // Plain http, https on another port and foreign hosts open outside; the view stays where it
    // is. WebKitGTK reports a page script's click() on a link as a link activation, like a click
    // of the user's, so scripted clicks stand for real ones here.
    click(*run, "helpfulLinkHttp");
    ASSERT_TRUE(runMainLoopUntil([&] { return run->externalOpener.openedURLs.size() == 1; }, 10s));
    EXPECT_EQ(run->externalOpener.openedURLs[0].scheme(), "http");
    click(*run, "helpfulLinkOtherPort");
    ASSERT_TRUE(runMainLoopUntil([&] { return run->externalOpener.openedURLs.size() == 2; }, 10s));
    EXPECT_EQ(run->externalOpener.openedURLs[1].port(), 8443);
    click(*run, "helpfulLinkExternal");
    ASSERT_TRUE(runMainLoopUntil([&] { return run->externalOpener.openedURLs.size() == 3; }, 10s));
    EXPECT_EQ(run->externalOpener.openedURLs[2].host(), "www.example.com");
    EXPECT_EQ(run->url()->string(), homeURL);

    // A page script that moves the page itself is no link activation: the http address stays in
    // the view (the server moves it on to https).
    auto result = run->evaluate("location.href = document.querySelector('[data-automation-id=\"helpfulLinkHttp\"]').href, true");
    ASSERT_FALSE(result.isError()) << result.errorMessage;
    EXPECT_TRUE(runMainLoopUntil([&] { return !run->isOnHomePage() && run->url()->scheme() == "https" && !run->coordinator.webView()->isLoading(); }, 20s))
        << run->url()->string();
    EXPECT_EQ(run->externalOpener.openedURLs.size(), 3u);

    // A blank-target link on a university host opens in this same view.
    run->coordinator.loadHome();
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage(); }, 20s));
    click(*run, "helpfulLinkNewWindow");
    auto webappsURL = "https://" + s_configuration->endpoints.webappsHost + "/";
    EXPECT_TRUE(runMainLoopUntil([&] { return run->url() && run->url()->host() == s_configuration->endpoints.webappsHost; }, 20s))
        << (run->url() ? run->url()->string() : "no URL");
    EXPECT_EQ(run->externalOpener.openedURLs.size(), 3u);
}

TEST_F(SessionBehaviourTest, reportsAreShownOrSavedInDownloadsUnderNamesThatNeverOverwrite)
{
    auto downloads = makeTemporaryFolder("halcyra-downloads");
    auto run = startSignedIn(downloads);
    ASSERT_TRUE(run->isOnHomePage());

    // Attachments and types the view cannot show are saved; the view stays on the page.
    click(*run, "summaryPdfDownloadLink");
    ASSERT_TRUE(runMainLoopUntil([&] { return run->downloadAnnouncer.announcedPaths.size() == 1; }, 20s));
    click(*run, "summaryPdfDownloadLink");
    ASSERT_TRUE(runMainLoopUntil([&] { return run->downloadAnnouncer.announcedPaths.size() == 2; }, 20s));
    click(*run, "budgetXlsxLink");
    ASSERT_TRUE(runMainLoopUntil([&] { return run->downloadAnnouncer.announcedPaths.size() == 3; }, 20s));
    EXPECT_TRUE(run->isOnHomePage());

    auto resolved = std::filesystem::canonical(downloads);
    EXPECT_EQ(run->downloadAnnouncer.announcedPaths, (std::vector<std::filesystem::path> { resolved / "summary.pdf", resolved / "summary (1).pdf", resolved / "budget.xlsx" }));
    EXPECT_EQ(firstBytes(downloads / "summary.pdf", 5), "%PDF-");
    EXPECT_EQ(firstBytes(downloads / "summary (1).pdf", 5), "%PDF-");
    EXPECT_EQ(firstBytes(downloads / "budget.xlsx", 2), "PK");

    // The PDF served inline opens in the view and saves nothing.
    click(*run, "summaryPdfLink");
    auto inlineURL = tenantURL("/ashgrove/d/reports/summary.pdf");
    ASSERT_TRUE(runMainLoopUntil([&] { return hasFinishedLoading(*run, inlineURL); }, 20s)) << (run->url() ? run->url()->string() : "no URL");
    EXPECT_EQ(run->downloadAnnouncer.announcedPaths.size(), 3u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(downloads), std::filesystem::directory_iterator()), 3);

    std::filesystem::remove_all(downloads);
}

TEST(RecentFilesAnnouncer, finishedDownloadIsAddedToTheRecentlyUsedFiles)
{
    auto folder = makeTemporaryFolder("halcyra-recent");
    auto file = folder / "budget (1).xlsx";
    std::ofstream(file) << "PK";
    GUniquePtr<char> uri(g_filename_to_uri(file.c_str(), nullptr, nullptr));
    auto* manager = gtk_recent_manager_get_default();
    ASSERT_FALSE(gtk_recent_manager_has_item(manager, uri.get()));

    RecentFilesAnnouncer().announceFinishedDownload(file);
    ASSERT_TRUE(runMainLoopUntil([&] { return gtk_recent_manager_has_item(manager, uri.get()); }, 10s));
    auto* info = gtk_recent_manager_lookup_item(manager, uri.get(), nullptr);
    ASSERT_TRUE(info);
    EXPECT_STREQ(gtk_recent_info_get_mime_type(info), "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
    gtk_recent_info_unref(info);

    // Other applications (file choosers, the shell) read the list from its file.
    GUniqueOutPtr<char> listFile;
    g_object_get(manager, "filename", listFile.outPtr(), nullptr);
    EXPECT_TRUE(runMainLoopUntil([&] {
        GUniqueOutPtr<char> contents;
        return g_file_get_contents(listFile.get(), contents.outPtr(), nullptr, nullptr) && std::string_view(contents.get()).find(uri.get()) != std::string_view::npos;
    },
        10s));
    std::filesystem::remove_all(folder);
}

int main(int argc, char** argv)
{
    return runEngineTests(argc, argv);
}

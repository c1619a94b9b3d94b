#include "EngineSession.h"
#include "platform/desktop/RecentFilesAnnouncer.h"
#include "platform/glib/GRefPtr.h"
#include "platform/webkit/WebKitView.h"
#include "support/LogCapture.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

class SessionBehaviourTest : public EngineSessionTest {
protected:
    std::string tenantURL(const std::string& path) const { return "https://" + s_configuration->endpoints.tenantHost + path; }

    // The home page renders its content by script after load: waits for one of its controls to
    // show (or to go away).
    static bool waitForElement(SessionRun& run, const std::string& automationID, bool isPresent = true)
    {
        auto script = "!!document.querySelector('[data-automation-id=\"" + automationID + "\"]')";
        return runMainLoopUntil([&] {
            auto result = run.evaluate(script);
            return !result.isError() && *result.value == isPresent;
        });
    }

    // Runs a page script that must not fail.
    static void perform(SessionRun& run, const std::string& script)
    {
        auto result = run.evaluate(script);
        ASSERT_FALSE(result.isError()) << result.errorMessage;
    }

    // A click as a page script makes it: the element's own click().
    static void click(SessionRun& run, const std::string& automationID)
    {
        ASSERT_TRUE(waitForElement(run, automationID)) << automationID;
        perform(run, "document.querySelector('[data-automation-id=\"" + automationID + "\"]').click(), true");
    }

    // Adds a link to the page, as Workday's own scripts add content.
    static void addLink(SessionRun& run, const std::string& automationID, const std::string& href, const std::string& attributes = "")
    {
        perform(run, "document.body.insertAdjacentHTML('beforeend', '<a data-automation-id=\"" + automationID + "\" href=\"" + href + "\" " + attributes + ">link</a>'), true");
    }

    static bool hasFinishedLoading(SessionRun& run, const std::string& urlString)
    {
        auto url = run.url();
        return url && url->string() == urlString && !run.coordinator.webView()->isLoading();
    }

    // Clicks a link that must go to the default browser; gives the address it was handed.
    static std::string clickOutward(SessionRun& run, const std::string& automationID)
    {
        auto count = run.externalOpener.openedURLs.size();
        click(run, automationID);
        EXPECT_TRUE(runMainLoopUntil([&] { return run.externalOpener.openedURLs.size() == count + 1; }, 10s)) << automationID;
        return run.externalOpener.openedURLs.size() > count ? run.externalOpener.openedURLs.back().string() : "";
    }
};

}

// The broken page is recognised in the real page; how often the sign-in starts over is the
// recovery's own rule, checked on the virtual clock.
TEST_F(SessionBehaviourTest, brokenSignInFlowIsStartedOverOnceThenLeftForTheUser)
{
    LogCapture log;
    saveCredentials("ashgrove-demo");
    s_tenant->control("POST", "/broken-flow", { { "on", true } });
    auto run = start();
    EXPECT_TRUE(runMainLoopUntil([&] { return log.contains("[Workday] CAS flow broke (https://" + s_configuration->endpoints.ssoHost + "); starting the sign-in over"); }, 30s));
    EXPECT_TRUE(runMainLoopUntil([&] { return log.contains("[Workday] CAS flow broke again; waiting for the user"); }, 30s));
    EXPECT_EQ(passwordSubmissions(), 0);
}

TEST_F(SessionBehaviourTest, rememberDevicePromptIsAnsweredAndTheAppBannerClosedOnTheWayHome)
{
    s_tenant->control("POST", "/remember-device", { { "on", true } });
    auto run = startSignedIn();
    auto prompt = s_tenant->state()["rememberDevicePrompt"];
    EXPECT_EQ(prompt, (nlohmann::json { { "shown", 1 }, { "submitted", 1 }, { "trusted", 1 } }));

    // The page shows the banner once it has rendered; the application closes it soon after.
    ASSERT_TRUE(waitForElement(*run, "mobileAppBanner"));
    EXPECT_TRUE(waitForElement(*run, "mobileAppBanner", false));
    // The rest of the page stays.
    EXPECT_TRUE(waitForElement(*run, "inbox_preview"));
}

TEST_F(SessionBehaviourTest, linksStayInTheViewOrGoToTheDefaultBrowser)
{
    auto run = startSignedIn();
    auto homeURL = run->url()->string();

    // A plain http link opens outside; the view stays where it is. WebKitGTK reports a page
    // script's click() on a link as a link activation, like a click of the user's, so scripted
    // clicks stand for real ones here.
    auto& endpoints = s_configuration->endpoints;
    EXPECT_EQ(clickOutward(*run, "helpfulLinkHttp"), "http://" + endpoints.webappsHost + "/");
    EXPECT_EQ(run->url()->string(), homeURL);

    // A page script that moves the page itself is no link activation: the http address stays in
    // the view (the server moves it on to https).
    perform(*run, "location.href = document.querySelector('[data-automation-id=\"helpfulLinkHttp\"]').href, true");
    EXPECT_TRUE(runMainLoopUntil([&] { return !run->isOnHomePage() && run->url()->scheme() == "https" && !run->coordinator.webView()->isLoading(); }, 20s))
        << run->url()->string();
    EXPECT_EQ(run->externalOpener.openedURLs.size(), 1u);

    // A blank-target link to another host goes to the default browser.
    addLink(*run, "externalNewWindow", "https://www.example.com/benefits", "target=\"_blank\"");
    EXPECT_EQ(clickOutward(*run, "externalNewWindow"), "https://www.example.com/benefits");
}

TEST_F(SessionBehaviourTest, windowsLeavePromptsAndBlankTargetFormsStayInTheView)
{
    auto run = startSignedIn();
    auto inboxURL = tenantURL("/ashgrove/d/inbox/2998$1.htmld");

    // A page script opening a window: the page loads here instead.
    ASSERT_TRUE(waitForElement(*run, "inbox_preview"));
    perform(*run, "window.open('/ashgrove/d/inbox/2998$1.htmld'), true");
    ASSERT_TRUE(runMainLoopUntil([&] { return hasFinishedLoading(*run, inboxURL); }, 20s)) << run->url()->string();

    // A form with unsaved changes that guards them with a leave-page prompt does not keep the
    // user from going Home.
    ASSERT_TRUE(waitForElement(*run, "inboxItem"));
    perform(*run, R"JS(
        window.addEventListener('beforeunload', function (event) { event.preventDefault(); event.returnValue = 'unsaved'; });
        var field = document.createElement('input');
        document.body.appendChild(field);
        field.focus();
        field.value = 'half-typed comment';
        true)JS");
    run->coordinator.loadHome();
    // The view names a refused load's address too: the page itself must be Home.
    ASSERT_TRUE(runMainLoopUntil([&] {
        auto path = run->evaluate("location.pathname");
        return !path.isError() && *path.value == "/ashgrove/d/home.htmld";
    },
        20s));

    // A blank-target form is posted here with its fields, not fetched without them.
    ASSERT_TRUE(waitForElement(*run, "inbox_preview"));
    perform(*run, "var form = document.createElement('form'); form.method = 'post'; form.target = '_blank'; form.action = 'https://" + s_configuration->endpoints.identityHost + "/wday/authgwy/ashgrove/upc/login?pending=trust'; form.innerHTML = '<input name=\"trustDevice\" value=\"true\">'; document.body.appendChild(form); form.submit(); true");
    ASSERT_TRUE(runMainLoopUntil([&] { return s_tenant->state()["rememberDevicePrompt"]["submitted"] == 1; }, 20s));
    auto prompt = s_tenant->state()["rememberDevicePrompt"];
    EXPECT_EQ(prompt["trusted"], 1);
    EXPECT_EQ(prompt["shown"], 0);
}

TEST_F(SessionBehaviourTest, subframeNavigationsNeitherCountNorConsumeABubbleTap)
{
    auto run = startSignedIn();
    ASSERT_TRUE(waitForElement(*run, "inbox_preview"));
    // A frame on the home page, and a control that moves the frame to another tenant page.
    perform(*run, R"JS(
        var frame = document.createElement('iframe');
        frame.name = 'probeFrame';
        frame.onload = function () { document.documentElement.dataset.frameLoads = +(document.documentElement.dataset.frameLoads || 0) + 1; };
        frame.src = '/wday/authgwy/ashgrove/login.htmld';
        document.body.appendChild(frame);
        true)JS");
    addLink(*run, "probeFrameLink", "/wday/authgwy/ashgrove/login.htmld?frame=2", "target=\"probeFrame\"");
    auto frameLoads = [&] {
        auto result = run->evaluate("+(document.documentElement.dataset.frameLoads || 0)");
        return result.isError() ? -1 : result.value->get<int>();
    };
    ASSERT_TRUE(runMainLoopUntil([&] { return frameLoads() == 1; }, 20s));
    auto navigationCount = run->coordinator.mainNavigationCount();

    // The task bubble's tap is followed by a navigation of the frame only.
    run->coordinator.clickAutomationID("probeFrameLink", "task");
    ASSERT_TRUE(runMainLoopUntil([&] { return frameLoads() == 2; }, 20s));
    EXPECT_EQ(run->coordinator.mainNavigationCount(), navigationCount);
    EXPECT_FALSE(m_settings.value(WorkdayWebCoordinator::learnedTaskURLKey));

    // The tap still waits for the page: the main frame's next navigation is learned.
    click(*run, "inbox_preview");
    auto inboxURL = tenantURL("/ashgrove/d/inbox/2998$1.htmld");
    ASSERT_TRUE(runMainLoopUntil([&] { return m_settings.value(WorkdayWebCoordinator::learnedTaskURLKey).has_value(); }, 20s));
    EXPECT_EQ(m_settings.string(WorkdayWebCoordinator::learnedTaskURLKey), inboxURL);
}

TEST_F(SessionBehaviourTest, anEndedWebProcessBringsThePageBackUntilItEndsThreeTimesInFiveMinutes)
{
    auto run = startSignedIn();
    auto* webView = WEBKIT_WEB_VIEW(static_cast<WebKitView&>(*run->coordinator.webView()).widget());
    for (int end = 1; end <= 2; ++end) {
        webkit_web_view_terminate_web_process(webView);
        // Drawn again by a new process; the hidden views are asked for again once home commits.
        ASSERT_TRUE(runMainLoopUntil([&] { return run->pollBrowser.createCount == end + 1; }, 30s)) << end << " " << run->urlText();
        ASSERT_TRUE(waitForElement(*run, "inbox_preview"));
    }
    webkit_web_view_terminate_web_process(webView);
    ASSERT_TRUE(runMainLoopUntil([&] { return run->evaluate("document.body.innerText").value.value_or("").dump().find("Workday Stopped") != std::string::npos; }, 30s)) << run->urlText();
    EXPECT_EQ(run->pollBrowser.createCount, 3);

    // Its reload link brings the page back.
    perform(*run, "document.querySelector('a').click(), true");
    ASSERT_TRUE(runMainLoopUntil([&] { return run->isOnHomePage() && run->pollBrowser.createCount == 4; }, 30s)) << run->urlText();
    ASSERT_TRUE(waitForElement(*run, "inbox_preview"));
}

TEST_F(SessionBehaviourTest, reportsAreShownOrSavedInDownloadsUnderNamesThatNeverOverwrite)
{
    // A desktop without xdg-user-dirs names no Downloads folder: ~/Downloads, made for the first
    // download, takes the files.
    TemporaryFolder home;
    const auto downloads = home.path() / "Downloads";
    auto run = startSignedIn(std::nullopt, home.path());
    EXPECT_FALSE(std::filesystem::exists(downloads)) << "made only when a download needs it";

    // Attachments and types the view cannot show are saved; the view stays on the page.
    // A link that asks for its PDF to be saved is saved too, though the view could show it
    // (added once the page has rendered its own).
    ASSERT_TRUE(waitForElement(*run, "budgetXlsxLink"));
    addLink(*run, "summaryPdfSaveLink", "/ashgrove/d/reports/summary.pdf", "download");
    auto resolved = std::filesystem::canonical(home.path()) / "Downloads";
    const std::tuple<const char*, const char*, const char*> rows[] = {
        { "summaryPdfDownloadLink", "summary.pdf", "%PDF-" },
        { "summaryPdfDownloadLink", "summary (1).pdf", "%PDF-" },
        { "budgetXlsxLink", "budget.xlsx", "PK" },
        { "summaryPdfSaveLink", "summary (2).pdf", "%PDF-" },
    };
    auto& announced = run->downloadAnnouncer.announcedPaths;
    for (auto [link, name, magic] : rows) {
        SCOPED_TRACE(name);
        auto count = announced.size();
        click(*run, link);
        ASSERT_TRUE(runMainLoopUntil([&] { return announced.size() == count + 1; }, 20s));
        EXPECT_EQ(announced.back(), resolved / name);
        EXPECT_TRUE(contentsOf(downloads / name).starts_with(magic));
        EXPECT_TRUE(run->isOnHomePage());
    }

    // The PDF served inline opens in the view and saves nothing.
    click(*run, "summaryPdfLink");
    auto inlineURL = tenantURL("/ashgrove/d/reports/summary.pdf");
    ASSERT_TRUE(runMainLoopUntil([&] { return hasFinishedLoading(*run, inlineURL); }, 20s)) << run->urlText();
    EXPECT_EQ(announced.size(), 4u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(downloads), std::filesystem::directory_iterator()), 4);
}

TEST(RecentFilesAnnouncer, finishedDownloadIsAddedToTheRecentlyUsedFiles)
{
    TemporaryFolder folder;
    auto file = folder.write("budget (1).xlsx", "PK");
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
}

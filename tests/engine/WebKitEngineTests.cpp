#include "EngineSession.h"
#include "session/OfflineErrors.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

// Records what the engine reports and answers every script message with {"ok": true}.
class RecordingClient final : public WebViewClient {
public:
    std::vector<std::string> events;
    std::vector<ScriptMessage> messages;
    std::vector<NavigationResponse> responses;
    std::vector<WebError> failures;

    NavigationResponsePolicy decidePolicyForNavigationResponse(WebView&, const NavigationResponse& response) override
    {
        responses.push_back(response);
        return NavigationResponsePolicy::allow;
    }
    void didStartProvisionalNavigation(WebView&, NavigationID) override { events.push_back("start"); }
    void didReceiveServerRedirectForProvisionalNavigation(WebView&, NavigationID) override { events.push_back("redirect"); }
    void didCommitNavigation(WebView&, NavigationID) override { events.push_back("commit"); }
    void didFinishNavigation(WebView&, NavigationID) override { events.push_back("finish"); }
    void didFailProvisionalNavigation(WebView&, NavigationID, const WebError& error) override
    {
        events.push_back("failProvisional");
        failures.push_back(error);
    }
    void didReceiveScriptMessage(const ScriptMessage& message, ScriptReplyHandler reply) override
    {
        messages.push_back(message);
        reply(ScriptReply::success({ { "ok", true } }));
    }

    bool hasFinished() const { return std::ranges::find(events, "finish") != events.end(); }
};

// The engine on its own, with the session suite's tenant and engine; no keyring.
class WebKitEngineTest : public EngineSessionTest {
protected:
    void SetUp() override { s_tenant->control("POST", "/reset"); }

    std::shared_ptr<WebView> makeView(WebViewConfiguration configuration = {})
    {
        configuration.scriptMessageHandlerNames = { "workdayAuth" };
        auto view = s_engine->makeWebView(configuration);
        view->setClient(&m_client);
        return view;
    }

    RecordingClient m_client;
};

const char* probeScript = R"JS((function () {
    var handlers = window.webkit && window.webkit.messageHandlers;
    if (!handlers || !handlers.workdayAuth)
        return;
    // A hostile frame may claim any address in the body; the application must not believe it.
    window.addEventListener("load", function () {
        handlers.workdayAuth.postMessage({ action: "probe", href: location.href, location: { protocol: "https:", host: "login.ashgrove.test", port: "" } })
            .then(function (reply) { document.documentElement.dataset.reply = JSON.stringify(reply); });
    });
    if (window === window.top && location.hostname === "login.ashgrove.test") {
        document.addEventListener("DOMContentLoaded", function () {
            var inline = document.createElement("iframe");
            inline.srcdoc = "<script>window.webkit.messageHandlers.workdayAuth.postMessage({action: 'probe', href: 'srcdoc'})<\/script>";
            document.body.appendChild(inline);
            var foreign = document.createElement("iframe");
            foreign.src = "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld";
            document.body.appendChild(foreign);
        });
    }
})();)JS";

}

TEST_F(WebKitEngineTest, scriptMessagesCarryTheOriginOfTheFrameThatSentThem)
{
    WebViewConfiguration configuration;
    configuration.userScripts = { probeScript };
    auto view = makeView(configuration);
    view->load(*URL::parse("https://login.ashgrove.test/cas/login"));

    std::map<std::string, SecurityOrigin> originBySender;
    auto hasHeardFromEveryFrame = [&] {
        for (const auto& message : m_client.messages)
            originBySender[message.body.value("href", "")] = message.frameOrigin;
        return originBySender.contains("https://login.ashgrove.test/cas/login") && originBySender.contains("srcdoc")
            && originBySender.contains("https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld");
    };
    ASSERT_TRUE(runMainLoopUntil(hasHeardFromEveryFrame)) << m_client.messages.size() << " messages";
    for (const auto& message : m_client.messages)
        EXPECT_EQ(message.webView.lock(), view);
    auto& main = originBySender["https://login.ashgrove.test/cas/login"];
    EXPECT_EQ(main.protocol, "https");
    EXPECT_EQ(main.host, "login.ashgrove.test");
    EXPECT_TRUE(main.port == 0 || main.port == 443) << main.port;

    auto& inlineFrame = originBySender["srcdoc"];
    EXPECT_NE(inlineFrame.protocol, "https");
    EXPECT_EQ(inlineFrame.host, "");

    auto& foreign = originBySender["https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld"];
    EXPECT_EQ(foreign.host, "wd5.myworkday.test");

    // The reply resolves the page's promise.
    ASSERT_TRUE(runMainLoopUntil([&] {
        return evaluateScript(*view, "document.documentElement.dataset.reply || ''").value == "{\"ok\":true}";
    }));
}

TEST_F(WebKitEngineTest, loadReportsEveryStageAndTheResponse)
{
    auto view = makeView();
    std::vector<std::string> urls;
    auto observation = view->observeURL([&](const std::optional<URL>&, const std::optional<URL>& url) { urls.push_back(url ? url->string() : ""); });
    view->load(*URL::parse("https://workday.ashgrove.test/"));

    ASSERT_TRUE(runMainLoopUntil([&] { return m_client.hasFinished(); }));
    EXPECT_EQ(m_client.events.front(), "start");
    EXPECT_NE(std::ranges::find(m_client.events, "redirect"), m_client.events.end());
    EXPECT_EQ(std::vector(m_client.events.end() - 2, m_client.events.end()), (std::vector<std::string> { "commit", "finish" }));
    EXPECT_EQ(view->url()->host(), "login.ashgrove.test");
    EXPECT_EQ(urls.back(), view->url()->string());

    ASSERT_FALSE(m_client.responses.empty());
    auto& response = m_client.responses.back();
    EXPECT_EQ(response.httpStatus, 200);
    EXPECT_TRUE(response.isForMainFrame);
    EXPECT_TRUE(response.canShowMIMEType);
    EXPECT_TRUE(response.header("content-type")->starts_with("text/html"));
}

TEST_F(WebKitEngineTest, hiddenViewLaysOutAtItsSizeRunsTimersAtFullRateAndGivesScriptValuesAndErrors)
{
    WebViewConfiguration configuration;
    configuration.width = 800;
    configuration.height = 900;
    auto view = makeView(configuration);
    view->hostOffScreen();
    view->load(*URL::parse("https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld"));
    ASSERT_TRUE(runMainLoopUntil([&] { return m_client.hasFinished(); }));

    EXPECT_EQ(evaluateScript(*view, "({ size: [window.innerWidth, window.innerHeight], label: 'x', items: [null, true] })").value,
        nlohmann::json::parse(R"({"size": [800, 900], "label": "x", "items": [null, true]})"));
    EXPECT_TRUE(evaluateScript(*view, "undefined").value->is_null());
    EXPECT_TRUE(evaluateScript(*view, "throw new Error('boom')").isError());
    std::optional<ScriptReply> ticks;
    view->callAsyncJavaScript("let n = 0; const id = setInterval(() => n++, 100); await new Promise(r => setTimeout(r, ms)); clearInterval(id); return [n, b];",
        { { "ms", 1000 }, { "b", "abc" } }, [&](ScriptReply result) { ticks = result; });
    ASSERT_TRUE(runMainLoopUntil([&] { return ticks.has_value(); }));
    ASSERT_FALSE(ticks->isError()) << ticks->errorMessage;
    EXPECT_GE((*ticks->value)[0].get<int>(), 8);
    EXPECT_EQ((*ticks->value)[1], "abc");

    // The page would still answer after the view is let go; the caller gets a failure instead.
    std::optional<ScriptReply> late;
    view->callAsyncJavaScript("await new Promise(r => setTimeout(r, 300)); return 1;", nlohmann::json::object(), [&](ScriptReply result) { late = result; });
    view = nullptr;
    ASSERT_TRUE(runMainLoopUntil([&] { return late.has_value(); }));
    EXPECT_TRUE(late->isError());
}

TEST_F(WebKitEngineTest, loadsThatCannotReachTheNetworkAreReportedAsOffline)
{
    s_tenant->control("POST", "/offline", { { "offline", true } });
    auto view = makeView();
    view->load(*URL::parse("https://workday.ashgrove.test/"));
    ASSERT_TRUE(runMainLoopUntil([&] { return !m_client.failures.empty(); }));
    s_tenant->control("POST", "/offline", { { "offline", false } });

    const auto& failure = m_client.failures.front();
    EXPECT_EQ(m_client.events.back(), "failProvisional");
    EXPECT_TRUE(isOfflineError(failure)) << failure.domain << " " << failure.code;
    ASSERT_TRUE(failure.failingURL);
    EXPECT_EQ(failure.failingURL->host(), "workday.ashgrove.test");
}

TEST_F(WebKitEngineTest, onlyTheTenantsPagesInAViewThatIsShownMayShowNotifications)
{
    auto loaded = [&](std::shared_ptr<WebView> view, const char* address) {
        m_client.events.clear();
        view->load(*URL::parse(address));
        EXPECT_TRUE(runMainLoopUntil([&] { return m_client.hasFinished(); })) << address;
        return view;
    };
    auto tenantPage = loaded(makeView(), "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld");
    EXPECT_EQ(evaluateScript(*tenantPage, "Notification.permission").value, "granted");

    // The sign-in site and a look-alike of the tenant are refused without a prompt.
    for (const char* address : { "https://login.ashgrove.test/cas/login", "https://wd5.identity.myworkday.test/wday/authgwy/ashgrove/upc/login" }) {
        auto other = loaded(makeView(), address);
        std::optional<ScriptReply> answer;
        other->callAsyncJavaScript("return await Notification.requestPermission();", nlohmann::json::object(), [&](ScriptReply reply) { answer = reply; });
        ASSERT_TRUE(runMainLoopUntil([&] { return answer.has_value(); })) << address;
        EXPECT_EQ(answer->value, "denied") << address;
    }

    WebViewConfiguration hidden;
    hidden.isNeverShown = true;
    auto hiddenPage = loaded(makeView(hidden), "https://wd5.myworkday.test/wday/authgwy/ashgrove/logout.htmld");
    evaluateScript(*hiddenPage, "new Notification('from a hidden view'); true");
    evaluateScript(*tenantPage, "new Notification('Expense report approved', { body: 'ER-1001' }); true");
    ASSERT_TRUE(runMainLoopUntil([] { return !s_shownNotifications.empty(); }));
    EXPECT_EQ(s_shownNotifications, std::vector<std::string> { "Expense report approved" });
}

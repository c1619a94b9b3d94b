#pragma once

#include "session/WebEngine.h"

#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace halcyra {

// A web view that a test drives by hand: it records what the application asks of it, and the
// test plays the engine's part (navigation events, script results, messages, downloads).
class FakeWebView final : public WebView {
public:
    explicit FakeWebView(WebViewConfiguration);

    const WebViewConfiguration& configuration() const { return m_configuration; }
    WebViewClient* client() const { return m_client; }

    // What the application asked for.
    const std::vector<URL>& loadedURLs() const { return m_loadedURLs; }
    const std::vector<std::string>& loadedHTML() const { return m_loadedHTML; }
    bool isHostedOffScreen() const { return m_isHostedOffScreen; }

    struct PendingScript {
        std::string source;
        std::optional<nlohmann::json> arguments; // set for async function calls
        ScriptCompletion completion;
    };
    // Scripts waiting for their result, oldest first.
    std::deque<PendingScript>& pendingScripts() { return m_pendingScripts; }
    // Every script the view was asked to run, in order.
    const std::vector<std::string>& scriptLog() const { return m_scriptLog; }
    // Answers the oldest pending script.
    void answerScript(ScriptReply);
    // When set, scripts are answered at once by this function instead of waiting.
    std::function<std::optional<ScriptReply>(const PendingScript&)> scriptResponder;

    // Engine events, as the engine delivers them to the client.
    NavigationActionPolicy decideAction(NavigationAction action) { return m_client ? m_client->decidePolicyForNavigationAction(*this, action) : NavigationActionPolicy::allow; }
    NavigationResponsePolicy decideResponse(NavigationResponse response) { return m_client ? m_client->decidePolicyForNavigationResponse(*this, response) : NavigationResponsePolicy::allow; }
    NavigationID startNavigation(); // provisional start of a new navigation
    void commit(NavigationID, const URL&); // the URL changes here, as in the engine
    void finish(NavigationID);
    void fail(NavigationID, WebError);
    void failProvisional(NavigationID, WebError);
    // The URL changes without a navigation (history.pushState in a single-page app).
    void changeURL(const std::optional<URL>&);
    void terminateWebProcess(WebProcessTermination termination = WebProcessTermination::crashed)
    {
        if (m_client)
            m_client->webProcessDidTerminate(*this, termination);
    }
    void setTitle(const std::string&);

    // A script message from a frame with the given origin; gives the reply once the client sent it.
    std::optional<ScriptReply> sendScriptMessage(const std::string& name, nlohmann::json body, SecurityOrigin);
    // Told of every reply to a script message, also of those that come after the call returned.
    std::function<void(const ScriptReply&)> onScriptReply;

    // WebView
    void setClient(WebViewClient* client) override { m_client = client; }
    NavigationID load(const URL&) override;
    // Tests hand out no engine requests: the application never has one to load.
    NavigationID load(const NavigationRequest&) override { throw std::logic_error("a fake view has no engine requests to load"); }
    NavigationID reload() override;
    NavigationID loadHTML(const std::string& html) override
    {
        m_loadedHTML.push_back(html);
        m_isLoading = true;
        return m_nextNavigationID++;
    }
    void stopLoading() override { m_isLoading = false; }
    std::optional<URL> url() const override { return m_url; }
    std::string title() const override { return m_title; }
    bool isLoading() const override { return m_isLoading; }
    bool canGoBack() const override { return false; }
    bool canGoForward() const override { return false; }
    void goBack() override { }
    void goForward() override { }
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion) override { runScript({ script, std::nullopt, std::move(completion) }); }
    void callAsyncJavaScript(const std::string& functionBody, const nlohmann::json& arguments, ScriptCompletion completion) override { runScript({ functionBody, arguments, std::move(completion) }); }
    void hostOffScreen() override { m_isHostedOffScreen = true; }
    void endOffScreenHosting() override { m_isHostedOffScreen = false; }

private:
    std::string m_title;
    void runScript(PendingScript);

    WebViewConfiguration m_configuration;
    WebViewClient* m_client { nullptr };
    std::optional<URL> m_url;
    bool m_isLoading { false };
    bool m_isHostedOffScreen { false };
    NavigationID m_nextNavigationID { 1 };
    std::vector<URL> m_loadedURLs;
    std::vector<std::string> m_loadedHTML;
    std::deque<PendingScript> m_pendingScripts;
    std::vector<std::string> m_scriptLog;
};

class FakeWebEngine final : public WebEngine {
public:
    std::shared_ptr<WebView> makeWebView(const WebViewConfiguration&) override;

    const std::vector<std::shared_ptr<FakeWebView>>& views() const { return m_views; }
    FakeWebView& lastView() { return *m_views.back(); }

private:
    std::vector<std::shared_ptr<FakeWebView>> m_views;
};

// A download the test starts and ends by hand.
class FakeDownload final : public Download {
public:
    std::optional<URL> requestURL() const override { return std::nullopt; }
    void cancel() override { }
};

}

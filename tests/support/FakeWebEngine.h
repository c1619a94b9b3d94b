#pragma once

#include "session/WebEngine.h"

#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace halcyra {

// A web view that a test drives by hand: it records what the application asks of it, and the
// test plays the engine's part (navigation events, script results, messages, downloads).
class FakeWebView final : public WebView {
public:
    explicit FakeWebView(WebViewConfiguration configuration)
        : m_configuration(std::move(configuration))
    {
    }

    const WebViewConfiguration& configuration() const { return m_configuration; }
    WebViewClient* client() const { return m_client; }

    // What the application asked for.
    const std::vector<URL>& loadedURLs() const { return m_loadedURLs; }
    NavigationID newestNavigation() const { return m_nextNavigationID - 1; }
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
    void answerScript(ScriptReply result)
    {
        if (m_pendingScripts.empty())
            throw std::logic_error("no script is waiting for a result");
        auto script = std::move(m_pendingScripts.front());
        m_pendingScripts.pop_front();
        script.completion(std::move(result));
    }
    // When set, scripts are answered at once by this function instead of waiting.
    std::function<std::optional<ScriptReply>(const PendingScript&)> scriptResponder;

    // Engine events, as the engine delivers them to the client.
    NavigationActionPolicy decideAction(NavigationAction action) { return m_client ? m_client->decidePolicyForNavigationAction(*this, action) : NavigationActionPolicy::allow; }
    NavigationResponsePolicy decideResponse(NavigationResponse response) { return m_client ? m_client->decidePolicyForNavigationResponse(*this, response) : NavigationResponsePolicy::allow; }
    // Provisional start of a new navigation.
    NavigationID startNavigation()
    {
        m_isLoading = true;
        if (m_client)
            m_client->didStartProvisionalNavigation(*this, m_nextNavigationID);
        return m_nextNavigationID++;
    }
    // The URL changes here, as in the engine.
    void commit(NavigationID navigation, const URL& url)
    {
        changeURL(url);
        if (m_client)
            m_client->didCommitNavigation(*this, navigation);
    }
    void finish(NavigationID navigation)
    {
        m_isLoading = false;
        if (m_client)
            m_client->didFinishNavigation(*this, navigation);
    }
    void fail(NavigationID navigation, WebError error)
    {
        m_isLoading = false;
        if (m_client)
            m_client->didFailNavigation(*this, navigation, error);
    }
    void failProvisional(NavigationID navigation, WebError error)
    {
        m_isLoading = false;
        if (m_client)
            m_client->didFailProvisionalNavigation(*this, navigation, error);
    }
    // The URL changes without a navigation (history.pushState in a single-page app).
    void changeURL(const std::optional<URL>& url)
    {
        if (m_url == url)
            return;
        auto old = std::exchange(m_url, url);
        notifyURLChanged(old, m_url);
    }
    void terminateWebProcess(WebProcessTermination termination = WebProcessTermination::crashed)
    {
        if (m_client)
            m_client->webProcessDidTerminate(*this, termination);
    }
    void setTitle(const std::string& title)
    {
        m_title = title;
        notifyTitleChanged(title);
    }

    // A script message from a frame with the given origin; gives the reply once the client sent it.
    std::optional<ScriptReply> sendScriptMessage(const std::string& name, nlohmann::json body, SecurityOrigin origin)
    {
        if (!m_client)
            return std::nullopt;
        // A client that answers later writes into the shared slot; the test sees only prompt replies.
        auto reply = std::make_shared<std::optional<ScriptReply>>();
        m_client->didReceiveScriptMessage({ name, std::move(body), weak_from_this(), std::move(origin) }, [reply, weakView = weak_from_this()](ScriptReply answer) {
            if (auto view = std::static_pointer_cast<FakeWebView>(weakView.lock()); view && view->onScriptReply)
                view->onScriptReply(answer);
            *reply = std::move(answer);
        });
        return *reply;
    }
    // Told of every reply to a script message, also of those that come after the call returned.
    std::function<void(const ScriptReply&)> onScriptReply;

    // WebView
    void setClient(WebViewClient* client) override { m_client = client; }
    NavigationID load(const URL& url) override
    {
        m_loadedURLs.push_back(url);
        return reload();
    }
    // Tests hand out no engine requests: the application never has one to load.
    NavigationID load(const NavigationRequest&) override { throw std::logic_error("a fake view has no engine requests to load"); }
    NavigationID reload() override
    {
        m_isLoading = true;
        return m_nextNavigationID++;
    }
    NavigationID loadHTML(const std::string& html) override
    {
        m_loadedHTML.push_back(html);
        return reload();
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
    void runScript(PendingScript script)
    {
        m_scriptLog.push_back(script.source);
        if (scriptResponder) {
            if (auto result = scriptResponder(script)) {
                script.completion(std::move(*result));
                return;
            }
        }
        m_pendingScripts.push_back(std::move(script));
    }

    std::string m_title;
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
    std::shared_ptr<WebView> makeWebView(const WebViewConfiguration& configuration) override
    {
        return m_views.emplace_back(std::make_shared<FakeWebView>(configuration));
    }

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

#pragma once

#include "base/Signal.h"
#include "base/Task.h"
#include "base/URL.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

class WebView;

// Identifies one navigation of one web view (a load, a reload, a link, a redirect chain).
// Two events belong to the same navigation when their identifiers are equal; 0 is none.
using NavigationID = std::uint64_t;

enum class NavigationType { linkActivated,
    formSubmitted,
    backForward,
    reload,
    formResubmitted,
    other };
const char* navigationTypeName(NavigationType);

// The engine's own request behind a navigation action (method, headers, body), kept so that it
// can be loaded again unchanged.
class NavigationRequest {
public:
    virtual ~NavigationRequest() = default;
};

struct NavigationAction {
    NavigationType type { NavigationType::other };
    // False when the action asks for a new window.
    bool hasTargetFrame { true };
    // An engine that cannot tell the target frame while the policy is asked reports false here
    // and calls didStartMainFrameNavigation once the main frame starts loading the action.
    bool isTargetMainFrame { true };
    std::optional<URL> requestURL;
    bool shouldPerformDownload { false };
    // Absent when the engine gives none; a view then loads requestURL instead.
    std::shared_ptr<const NavigationRequest> request {};
};

enum class NavigationActionPolicy { allow,
    cancel,
    download };
enum class NavigationResponsePolicy { allow,
    cancel,
    download };

struct NavigationResponse {
    // 0 for responses that did not come over HTTP.
    int httpStatus { 0 };
    // Header names in lower case.
    std::map<std::string, std::string> headers;
    std::optional<URL> url;
    bool isForMainFrame { true };
    bool canShowMIMEType { true };

    std::optional<std::string> header(const std::string& lowercaseName) const;
};

// A failed load. Engine errors that mean "no network" are reported in the "NSURLErrorDomain"
// domain with that domain's codes (see OfflineErrors.h); any other error keeps the engine's own
// domain and code.
struct WebError {
    std::string domain;
    long code { 0 };
    std::optional<URL> failingURL;
};

// Why a view's web process ended. The views that share the process end with it.
enum class WebProcessTermination { crashed,
    exceededMemoryLimit,
    terminatedByApplication };
const char* webProcessTerminationName(WebProcessTermination);

// The origin of the document that sent a script message, as the engine reports it: never taken
// from the message itself, nor from whatever its frame shows by the time it arrives.
struct SecurityOrigin {
    std::string protocol;
    std::string host;
    // 0 when the URL names no port.
    int port { 0 };
};

struct ScriptMessage {
    std::string name;
    nlohmann::json body;
    std::weak_ptr<WebView> webView;
    SecurityOrigin frameOrigin;
};

// The answer to a script message (a value that resolves the page's promise, or an error text
// that rejects it), and the outcome of running a page script (its value in JSON types, where
// `undefined` reads as null, or an error text).
struct ScriptReply {
    std::optional<nlohmann::json> value;
    std::string errorMessage;

    static ScriptReply success(nlohmann::json value) { return { std::move(value), {} }; }
    static ScriptReply failure(std::string message) { return { std::nullopt, std::move(message) }; }
    bool isError() const { return !value; }
};
using ScriptReplyHandler = std::function<void(ScriptReply)>;
using ScriptCompletion = std::function<void(ScriptReply)>;

// A file that a page offers; compared by identity.
class Download {
public:
    virtual ~Download() = default;
    virtual std::optional<URL> requestURL() const = 0;
    virtual void cancel() = 0;
};

struct OpenPanelParameters {
    bool allowsMultipleSelection { false };
    bool allowsDirectories { false };
};
// The chosen files, or nothing when the user cancelled.
using OpenPanelCompletion = std::function<void(std::optional<std::vector<std::filesystem::path>>)>;

// What a web view asks of the application: the navigation and UI delegate, the download delegate
// and the script message handlers, in one. Every call arrives on the main loop.
class WebViewClient {
public:
    virtual ~WebViewClient() = default;

    virtual NavigationActionPolicy decidePolicyForNavigationAction(WebView&, const NavigationAction&) { return NavigationActionPolicy::allow; }
    // An allowed action whose target frame was not known at its policy decision turned out to
    // load in the main frame.
    virtual void didStartMainFrameNavigation(WebView&, const NavigationAction&) { }
    virtual NavigationResponsePolicy decidePolicyForNavigationResponse(WebView&, const NavigationResponse&) { return NavigationResponsePolicy::allow; }
    virtual void didStartProvisionalNavigation(WebView&, NavigationID) { }
    virtual void didReceiveServerRedirectForProvisionalNavigation(WebView&, NavigationID) { }
    virtual void didCommitNavigation(WebView&, NavigationID) { }
    virtual void didFinishNavigation(WebView&, NavigationID) { }
    virtual void didFailNavigation(WebView&, NavigationID, const WebError&) { }
    virtual void didFailProvisionalNavigation(WebView&, NavigationID, const WebError&) { }

    // A page asked for a new window. The engine never creates one: the client decides what
    // happens to the action instead.
    virtual void didRequestNewWebView(WebView&, const NavigationAction&) { }
    virtual void runOpenPanel(WebView&, const OpenPanelParameters&, OpenPanelCompletion completion) { completion(std::nullopt); }

    virtual void downloadDidStart(WebView&, Download&) { }
    // Where to write the download; nothing cancels it.
    virtual std::optional<std::filesystem::path> decideDestination(Download&, const std::string& /*suggestedFilename*/) { return std::nullopt; }
    virtual void downloadDidFinish(Download&) { }
    virtual void downloadDidFail(Download&, const WebError&) { }

    virtual void didReceiveScriptMessage(const ScriptMessage&, ScriptReplyHandler reply) { reply(ScriptReply::failure("No handler")); }

    // The view's web process ended: the view shows nothing until it loads again, which starts
    // a new process.
    virtual void webProcessDidTerminate(WebView&, WebProcessTermination) { }
};

struct WebViewConfiguration {
    // The size of the view's page; 0 x 0 lets the window decide.
    int width { 0 };
    int height { 0 };
    std::string userAgent;
    // Injected at document start into every frame, in the page's own script world.
    std::vector<std::string> userScripts;
    // Names of the script message channels (window.webkit.messageHandlers.<name>) with reply.
    std::vector<std::string> scriptMessageHandlerNames;
    // A view whose web process and network session this view shares; its settings, scripts and
    // client stay its own.
    std::shared_ptr<WebView> relatedView;
    // Never shown in a window: the view draws without hardware acceleration.
    bool isNeverShown { false };
};

// One web view of the engine. All views of the application share one persistent website data
// store, so that they are signed in together.
class WebView : public std::enable_shared_from_this<WebView> {
public:
    virtual ~WebView() = default;

    // The client must outlive the view or be reset to null first.
    virtual void setClient(WebViewClient*) = 0;

    // Loads with the default cache policy and a 60 s timeout.
    virtual NavigationID load(const URL&) = 0;
    // Loads a page's own request as it is: a form's method and body stay.
    virtual NavigationID load(const NavigationRequest&) = 0;
    virtual NavigationID reload() = 0;
    // Shows a page of the application's own at about:blank.
    virtual NavigationID loadHTML(const std::string& html) = 0;
    virtual void stopLoading() = 0;

    virtual std::optional<URL> url() const = 0;
    virtual std::string title() const = 0;
    virtual bool isLoading() const = 0;

    virtual bool canGoBack() const = 0;
    // The pages that going back or forward would show.
    virtual std::optional<URL> backItemURL() const { return std::nullopt; }
    virtual std::optional<URL> forwardItemURL() const { return std::nullopt; }
    virtual bool canGoForward() const = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;

    // Evaluates an expression in the main frame, in the page's own script world.
    virtual void evaluateJavaScript(const std::string& script, ScriptCompletion) = 0;
    // Runs the body of an async function with named arguments (a JSON object) in the main frame
    // of an isolated script world, and gives the awaited value.
    virtual void callAsyncJavaScript(const std::string& functionBody, const nlohmann::json& arguments, ScriptCompletion) = 0;

    // Keeps the view laid out at its configured size and running at full rate while no window
    // shows it; ended when a window takes the view.
    virtual void hostOffScreen() = 0;
    virtual void endOffScreenHosting() = 0;

    // Observers are told after the URL or title changed (old value, new value).
    [[nodiscard]] Connection observeURL(std::function<void(const std::optional<URL>&, const std::optional<URL>&)> observer)
    {
        return m_urlDidChange.connect(std::move(observer));
    }
    [[nodiscard]] Connection observeTitle(std::function<void(const std::string&)> observer)
    {
        return m_titleDidChange.connect(std::move(observer));
    }

protected:
    void notifyURLChanged(const std::optional<URL>& oldURL, const std::optional<URL>& newURL) { m_urlDidChange.notify(oldURL, newURL); }
    void notifyTitleChanged(const std::string& title) { m_titleDidChange.notify(title); }

private:
    Signal<const std::optional<URL>&, const std::optional<URL>&> m_urlDidChange;
    Signal<const std::string&> m_titleDidChange;
};

class WebEngine {
public:
    virtual ~WebEngine() = default;
    virtual std::shared_ptr<WebView> makeWebView(const WebViewConfiguration&) = 0;
};

// `co_await evaluate(view, script)` inside a task: the script's result, or nothing when the task
// was cancelled first.
CallbackAwaiter<ScriptReply> evaluate(WebView&, std::string script);
CallbackAwaiter<ScriptReply> callAsync(WebView&, std::string functionBody, nlohmann::json arguments);

}

#pragma once

#include "platform/glib/GRefPtr.h"
#include "platform/gtk/ViewWidget.h"
#include "session/WebEngine.h"

#include <deque>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

namespace halcyra {

// One WebKitGTK web view behind the application's web view interface.
class WebKitView final : public WebView, public ViewWidget {
public:
    WebKitView(WebKitNetworkSession*, const WebViewConfiguration&);
    ~WebKitView() override;

    GtkWidget* widget() const override { return GTK_WIDGET(m_view.get()); }
    WebViewClient* client() const { return m_client; }
    static WebKitView* fromWidget(WebKitWebView*);

    void setClient(WebViewClient* client) override { m_client = client; }
    NavigationID load(const URL&) override;
    NavigationID load(const NavigationRequest&) override;
    NavigationID reload() override;
    NavigationID loadHTML(const std::string& html) override;
    void stopLoading() override;
    std::optional<URL> url() const override;
    std::string title() const override;
    bool isLoading() const override;
    bool canGoBack() const override;
    bool canGoForward() const override;
    std::optional<URL> backItemURL() const override;
    std::optional<URL> forwardItemURL() const override;
    void goBack() override;
    void goForward() override;
    void evaluateJavaScript(const std::string& script, ScriptCompletion) override;
    void callAsyncJavaScript(const std::string& functionBody, const nlohmann::json& arguments, ScriptCompletion) override;
    void hostOffScreen() override;
    void endOffScreenHosting() override;

private:
    // Taken by every signal handler first: a client may drop the last reference to the view
    // while it handles an event.
    std::shared_ptr<WebKitView> protectedView() { return std::static_pointer_cast<WebKitView>(shared_from_this()); }
    void connectSignals();
    void awaitTargetFrame(NavigationAction);
    void mainFrameStartedLoading(const std::optional<URL>&);
    void startLoadTimeout(NavigationID);
    void cancelLoadTimeout();

    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, WebKitView*);
    static void loadChanged(WebKitWebView*, WebKitLoadEvent, WebKitView*);
    static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, const char* failingURI, GError*, WebKitView*);
    static void uriChanged(WebKitWebView*, GParamSpec*, WebKitView*);
    static void titleChanged(WebKitWebView*, GParamSpec*, WebKitView*);
    static GtkWidget* createRequested(WebKitWebView*, WebKitNavigationAction*, WebKitView*);
    static gboolean scriptDialog(WebKitWebView*, WebKitScriptDialog*, WebKitView*);
    static gboolean runFileChooser(WebKitWebView*, WebKitFileChooserRequest*, WebKitView*);
    static gboolean userMessageReceived(WebKitWebView*, WebKitUserMessage*, WebKitView*);
    static void webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, WebKitView*);

    GRefPtr<WebKitWebView> m_view;
    GRefPtr<GCancellable> m_scriptCancellable { adoptGRef(g_cancellable_new()) };
    std::vector<std::string> m_handlerNames;
    GtkWidget* m_offScreenWindow { nullptr };
    int m_width;
    int m_height;
    WebViewClient* m_client { nullptr };
    std::optional<URL> m_url;
    NavigationID m_nextNavigation { 1 };
    NavigationID m_requestedNavigation { 0 };
    NavigationID m_currentNavigation { 0 };
    bool m_currentNavigationFailed { false };
    bool m_currentNavigationTimedOut { false };
    guint m_loadTimeout { 0 };
    // Allowed navigation actions whose frame is not known yet, oldest first.
    std::deque<NavigationAction> m_actionsAwaitingFrame;
};

}

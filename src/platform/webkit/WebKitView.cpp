#include "platform/webkit/WebKitView.h"

#include "platform/webkit/JSONConversion.h"
#include "platform/webkit/WebKitErrors.h"
#include "platform/webkit/WebKitGRefTraits.h"
#include "session/OfflineErrors.h"

#include <algorithm>
#include <cstring>
#include <libsoup/soup.h>
#include <memory>

namespace halcyra {

namespace {

    constexpr const char* viewDataKey = "halcyra-web-view";
    constexpr const char* isolatedWorldName = "halcyra";
    constexpr guint loadTimeoutSeconds = 60;
    constexpr int hiddenDefaultWidth = 800;
    constexpr int hiddenDefaultHeight = 900;

    // Measured with WebKitGTK 2.50: with these off, a page in a view that no window shows runs its
    // timers at full rate.
    constexpr const char* throttlingFeatures[] = { "HiddenPageDOMTimerThrottling", "DOMTimersThrottling", "PageVisibilityBasedProcessSuppression" };

    NavigationType navigationTypeFrom(WebKitNavigationType type)
    {
        switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
            return NavigationType::linkActivated;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
            return NavigationType::formSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
            return NavigationType::backForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD:
            return NavigationType::reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
            return NavigationType::formResubmitted;
        default:
            return NavigationType::other;
        }
    }

    // The request of a navigation action; WebKitGTK keeps a form's method and body in it.
    class WebKitNavigationRequest final : public NavigationRequest {
    public:
        explicit WebKitNavigationRequest(WebKitURIRequest* request)
            : m_request(request)
        {
        }
        WebKitURIRequest* request() const { return m_request.get(); }

    private:
        GRefPtr<WebKitURIRequest> m_request;
    };

    NavigationAction navigationActionFrom(WebKitNavigationAction* action, bool hasTargetFrame)
    {
        NavigationAction result;
        result.type = navigationTypeFrom(webkit_navigation_action_get_navigation_type(action));
        result.hasTargetFrame = hasTargetFrame;
        // Measured with WebKitGTK 2.50: "decide-policy" comes for the navigations of every frame
        // alike (the action's frame name is only a link's target attribute), so the frame is
        // learned afterwards: the main frame starts loading, its URL changes, or a subframe's
        // response arrives.
        result.isTargetMainFrame = false;
        if (auto* request = webkit_navigation_action_get_request(action)) {
            result.requestURL = URL::parse(webkit_uri_request_get_uri(request));
            result.request = std::make_shared<WebKitNavigationRequest>(request);
        }
        return result;
    }

    NavigationResponse navigationResponseFrom(WebKitResponsePolicyDecision* decision)
    {
        NavigationResponse result;
        auto* response = webkit_response_policy_decision_get_response(decision);
        result.httpStatus = static_cast<int>(webkit_uri_response_get_status_code(response));
        result.url = URL::parse(webkit_uri_response_get_uri(response));
        result.isForMainFrame = webkit_response_policy_decision_is_main_frame_main_resource(decision);
        result.canShowMIMEType = webkit_response_policy_decision_is_mime_type_supported(decision);
        if (auto* headers = webkit_uri_response_get_http_headers(response)) {
            soup_message_headers_foreach(
                headers, [](const char* name, const char* value, gpointer data) {
                    auto& map = *static_cast<std::map<std::string, std::string>*>(data);
                    std::string key(name);
                    for (auto& c : key)
                        c = static_cast<char>(g_ascii_tolower(c));
                    auto [entry, isNew] = map.emplace(key, value);
                    if (!isNew)
                        entry->second += std::string(", ") + value;
                },
                &result.headers);
        }
        return result;
    }

    SecurityOrigin originFromURI(const char* uri)
    {
        SecurityOrigin origin;
        auto url = uri ? URL::parse(uri) : std::nullopt;
        if (!url)
            return origin;
        origin.protocol = url->scheme();
        origin.host = url->host().value_or("");
        origin.port = url->port().value_or(0);
        return origin;
    }

    // Both policy kinds answer with the same three decisions.
    template <typename Policy>
    void applyPolicy(WebKitPolicyDecision* decision, Policy policy)
    {
        switch (policy) {
        case Policy::allow:
            webkit_policy_decision_use(decision);
            break;
        case Policy::cancel:
            webkit_policy_decision_ignore(decision);
            break;
        case Policy::download:
            webkit_policy_decision_download(decision);
            break;
        }
    }

    void turnOffThrottling(WebKitSettings* settings)
    {
        auto features = adoptGRef(webkit_settings_get_all_features());
        for (gsize index = 0; index < webkit_feature_list_get_length(features.get()); ++index) {
            auto* feature = webkit_feature_list_get(features.get(), index);
            for (auto* identifier : throttlingFeatures) {
                if (!std::strcmp(webkit_feature_get_identifier(feature), identifier))
                    webkit_settings_set_feature_enabled(settings, feature, FALSE);
            }
        }
    }

    void finishScript(GObject* source, GAsyncResult* result, gpointer data, bool isAsyncCall)
    {
        std::unique_ptr<ScriptCompletion> completion(static_cast<ScriptCompletion*>(data));
        GUniqueOutPtr<GError> error;
        auto* view = WEBKIT_WEB_VIEW(source);
        auto value = adoptGRef(isAsyncCall ? webkit_web_view_call_async_javascript_function_finish(view, result, error.outPtr())
                                           : webkit_web_view_evaluate_javascript_finish(view, result, error.outPtr()));
        if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            (*completion)(ScriptReply::failure("The web view is gone."));
            return;
        }
        if (error) {
            (*completion)(ScriptReply::failure(error->message));
            return;
        }
        (*completion)(ScriptReply::success(jsonFromJSCValue(value.get())));
    }

}

WebKitView::WebKitView(WebKitNetworkSession* session, const WebViewConfiguration& configuration)
    : m_handlerNames(configuration.scriptMessageHandlerNames)
    , m_width(configuration.width ? configuration.width : hiddenDefaultWidth)
    , m_height(configuration.height ? configuration.height : hiddenDefaultHeight)
{
    auto settings = adoptGRef(webkit_settings_new());
    webkit_settings_set_user_agent(settings.get(), configuration.userAgent.empty() ? nullptr : configuration.userAgent.c_str());
    webkit_settings_set_enable_write_console_messages_to_stdout(settings.get(), g_getenv("HALCYRA_WEB_CONSOLE") != nullptr);
    turnOffThrottling(settings.get());
    // Measured under Xvfb: a web process that never composites holds about half the memory.
    if (configuration.isNeverShown)
        webkit_settings_set_hardware_acceleration_policy(settings.get(), WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);

    auto contentManager = adoptGRef(webkit_user_content_manager_new());
    for (const auto& source : configuration.userScripts) {
        auto script = adoptGRef(webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr));
        webkit_user_content_manager_add_script(contentManager.get(), script.get());
    }

    // A related view shares the other view's web process and network session; its settings and
    // scripts are given explicitly, so that they stay its own.
    auto* related = dynamic_cast<WebKitView*>(configuration.relatedView.get());
    auto* view = related ? g_object_new(WEBKIT_TYPE_WEB_VIEW,
                     "related-view", related->m_view.get(),
                     "settings", settings.get(),
                     "user-content-manager", contentManager.get(),
                     nullptr)
                         : g_object_new(WEBKIT_TYPE_WEB_VIEW,
                             "network-session", session,
                             "settings", settings.get(),
                             "user-content-manager", contentManager.get(),
                             nullptr);
    m_view = adoptGRef(WEBKIT_WEB_VIEW(view));
    g_object_set_data(G_OBJECT(m_view.get()), viewDataKey, this);
    connectSignals();
}

WebKitView::~WebKitView()
{
    // The page may still answer a script after this, and its value would reach a caller that
    // has let the view go; the callbacks report a failure instead.
    g_cancellable_cancel(m_scriptCancellable.get());
    cancelLoadTimeout();
    g_signal_handlers_disconnect_by_data(m_view.get(), this);
    g_object_set_data(G_OBJECT(m_view.get()), viewDataKey, nullptr);
    endOffScreenHosting();
}

WebKitView* WebKitView::fromWidget(WebKitWebView* view)
{
    return static_cast<WebKitView*>(g_object_get_data(G_OBJECT(view), viewDataKey));
}

void WebKitView::connectSignals()
{
    auto* view = m_view.get();
    g_signal_connect(view, "decide-policy", G_CALLBACK(decidePolicy), this);
    g_signal_connect(view, "load-changed", G_CALLBACK(loadChanged), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(loadFailed), this);
    g_signal_connect(view, "notify::uri", G_CALLBACK(uriChanged), this);
    g_signal_connect(view, "notify::title", G_CALLBACK(titleChanged), this);
    g_signal_connect(view, "create", G_CALLBACK(createRequested), this);
    g_signal_connect(view, "script-dialog", G_CALLBACK(scriptDialog), this);
    g_signal_connect(view, "run-file-chooser", G_CALLBACK(runFileChooser), this);
    g_signal_connect(view, "user-message-received", G_CALLBACK(userMessageReceived), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(webProcessTerminated), this);
}

NavigationID WebKitView::load(const URL& url)
{
    auto navigation = m_nextNavigation++;
    m_requestedNavigation = navigation;
    auto request = adoptGRef(webkit_uri_request_new(url.string().c_str()));
    webkit_web_view_load_request(m_view.get(), request.get());
    startLoadTimeout(navigation);
    return navigation;
}

NavigationID WebKitView::load(const NavigationRequest& request)
{
    auto navigation = m_nextNavigation++;
    m_requestedNavigation = navigation;
    webkit_web_view_load_request(m_view.get(), static_cast<const WebKitNavigationRequest&>(request).request());
    startLoadTimeout(navigation);
    return navigation;
}

NavigationID WebKitView::reload()
{
    auto navigation = m_nextNavigation++;
    m_requestedNavigation = navigation;
    webkit_web_view_reload(m_view.get());
    startLoadTimeout(navigation);
    return navigation;
}

NavigationID WebKitView::loadHTML(const std::string& html)
{
    auto navigation = m_nextNavigation++;
    m_requestedNavigation = navigation;
    webkit_web_view_load_html(m_view.get(), html.c_str(), nullptr);
    startLoadTimeout(navigation);
    return navigation;
}

void WebKitView::stopLoading()
{
    webkit_web_view_stop_loading(m_view.get());
}

std::optional<URL> WebKitView::url() const
{
    return m_url;
}

std::string WebKitView::title() const
{
    auto* title = webkit_web_view_get_title(m_view.get());
    return title ? title : "";
}

bool WebKitView::isLoading() const
{
    return webkit_web_view_is_loading(m_view.get());
}

bool WebKitView::canGoBack() const
{
    return webkit_web_view_can_go_back(m_view.get());
}

bool WebKitView::canGoForward() const
{
    return webkit_web_view_can_go_forward(m_view.get());
}

static std::optional<URL> itemURL(WebKitBackForwardListItem* item)
{
    return item ? URL::parse(webkit_back_forward_list_item_get_uri(item)) : std::nullopt;
}

std::optional<URL> WebKitView::backItemURL() const
{
    return itemURL(webkit_back_forward_list_get_back_item(webkit_web_view_get_back_forward_list(m_view.get())));
}

std::optional<URL> WebKitView::forwardItemURL() const
{
    return itemURL(webkit_back_forward_list_get_forward_item(webkit_web_view_get_back_forward_list(m_view.get())));
}

void WebKitView::goBack()
{
    webkit_web_view_go_back(m_view.get());
}

void WebKitView::goForward()
{
    webkit_web_view_go_forward(m_view.get());
}

void WebKitView::evaluateJavaScript(const std::string& script, ScriptCompletion completion)
{
    webkit_web_view_evaluate_javascript(
        m_view.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, m_scriptCancellable.get(), [](GObject* source, GAsyncResult* result, gpointer data) { finishScript(source, result, data, false); }, new ScriptCompletion(std::move(completion)));
}

void WebKitView::callAsyncJavaScript(const std::string& functionBody, const nlohmann::json& arguments, ScriptCompletion completion)
{
    GRefPtr<GVariant> variant(variantDictionaryFromJSON(arguments));
    webkit_web_view_call_async_javascript_function(
        m_view.get(), functionBody.c_str(), static_cast<gssize>(functionBody.size()), variant.get(), isolatedWorldName, nullptr, m_scriptCancellable.get(), [](GObject* source, GAsyncResult* result, gpointer data) { finishScript(source, result, data, true); }, new ScriptCompletion(std::move(completion)));
}

void WebKitView::hostOffScreen()
{
    if (m_offScreenWindow || gtk_widget_get_parent(widget()))
        return;
    // GTK cannot place a window outside the screens, so the view lives in a window that is never
    // shown, realized and given its size by hand: the page lays out at that size and keeps running.
    m_offScreenWindow = gtk_window_new();
    gtk_widget_set_name(m_offScreenWindow, "HalcyraOffscreenWindow");
    gtk_window_set_default_size(GTK_WINDOW(m_offScreenWindow), m_width, m_height);
    gtk_window_set_child(GTK_WINDOW(m_offScreenWindow), widget());
    gtk_widget_realize(m_offScreenWindow);
    GtkAllocation allocation { 0, 0, m_width, m_height };
    gtk_widget_size_allocate(m_offScreenWindow, &allocation, -1);
}

void WebKitView::endOffScreenHosting()
{
    if (!m_offScreenWindow)
        return;
    gtk_window_set_child(GTK_WINDOW(m_offScreenWindow), nullptr);
    gtk_window_destroy(GTK_WINDOW(std::exchange(m_offScreenWindow, nullptr)));
}

void WebKitView::startLoadTimeout(NavigationID navigation)
{
    cancelLoadTimeout();
    m_currentNavigationTimedOut = false;
    // WebKitGTK has no per-request timeout: a load that has not committed after 60 s is stopped
    // and reported as timed out.
    struct Context {
        WebKitView* view;
        NavigationID navigation;
    };
    m_loadTimeout = g_timeout_add_seconds_full(
        G_PRIORITY_DEFAULT, loadTimeoutSeconds, [](gpointer data) -> gboolean {
        auto* context = static_cast<Context*>(data);
        auto* view = context->view;
        view->m_loadTimeout = 0;
        if (view->m_currentNavigation == context->navigation || view->m_requestedNavigation == context->navigation) {
            view->m_currentNavigationTimedOut = true;
            webkit_web_view_stop_loading(view->m_view.get());
        }
        return G_SOURCE_REMOVE; },
        new Context { this, navigation }, [](gpointer data) { delete static_cast<Context*>(data); });
}

void WebKitView::cancelLoadTimeout()
{
    if (m_loadTimeout)
        g_source_remove(std::exchange(m_loadTimeout, 0));
}

void WebKitView::awaitTargetFrame(NavigationAction action)
{
    // Only the latest few can still be waiting: a page loads one main-frame navigation at a time.
    constexpr size_t limit = 16;
    if (m_actionsAwaitingFrame.size() == limit)
        m_actionsAwaitingFrame.pop_front();
    m_actionsAwaitingFrame.push_back(std::move(action));
}

void WebKitView::mainFrameStartedLoading(const std::optional<URL>& url)
{
    if (!url)
        return;
    auto found = std::find_if(m_actionsAwaitingFrame.rbegin(), m_actionsAwaitingFrame.rend(), [&](const NavigationAction& action) {
        return action.requestURL == url;
    });
    if (found == m_actionsAwaitingFrame.rend())
        return;
    auto action = std::move(*found);
    // Older actions were overtaken by this one, or were a subframe's.
    m_actionsAwaitingFrame.erase(m_actionsAwaitingFrame.begin(), found.base());
    if (m_client)
        m_client->didStartMainFrameNavigation(*this, action);
}

gboolean WebKitView::decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    auto* client = self->m_client;
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
        auto* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        auto navigation = navigationActionFrom(action, true);
        auto policy = client ? client->decidePolicyForNavigationAction(*self, navigation) : NavigationActionPolicy::allow;
        if (policy == NavigationActionPolicy::allow)
            self->awaitTargetFrame(std::move(navigation));
        applyPolicy(decision, policy);
        return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        // No second view is ever made: the client decides where the page goes instead.
        auto* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        auto navigation = navigationActionFrom(action, false);
        webkit_policy_decision_ignore(decision);
        if (client)
            client->didRequestNewWebView(*self, navigation);
        return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto response = navigationResponseFrom(WEBKIT_RESPONSE_POLICY_DECISION(decision));
        if (!response.isForMainFrame) {
            std::erase_if(self->m_actionsAwaitingFrame, [&](const NavigationAction& action) {
                return action.requestURL == response.url;
            });
        }
        auto policy = client ? client->decidePolicyForNavigationResponse(*self, response) : NavigationResponsePolicy::allow;
        if (policy == NavigationResponsePolicy::allow && !response.canShowMIMEType && response.isForMainFrame)
            policy = NavigationResponsePolicy::download;
        applyPolicy(decision, policy);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void WebKitView::loadChanged(WebKitWebView* view, WebKitLoadEvent event, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    if (event == WEBKIT_LOAD_STARTED || event == WEBKIT_LOAD_REDIRECTED) {
        auto* uri = webkit_web_view_get_uri(view);
        self->mainFrameStartedLoading(uri ? URL::parse(uri) : std::nullopt);
    }
    auto* client = self->m_client;
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        self->m_currentNavigation = self->m_requestedNavigation ? std::exchange(self->m_requestedNavigation, 0) : self->m_nextNavigation++;
        self->m_currentNavigationFailed = false;
        if (client)
            client->didStartProvisionalNavigation(*self, self->m_currentNavigation);
        break;
    case WEBKIT_LOAD_REDIRECTED:
        if (client)
            client->didReceiveServerRedirectForProvisionalNavigation(*self, self->m_currentNavigation);
        break;
    case WEBKIT_LOAD_COMMITTED:
        self->cancelLoadTimeout();
        if (client)
            client->didCommitNavigation(*self, self->m_currentNavigation);
        break;
    case WEBKIT_LOAD_FINISHED:
        self->cancelLoadTimeout();
        // A failed load ends with "finished" too; the failure was reported already.
        if (client && !self->m_currentNavigationFailed)
            client->didFinishNavigation(*self, self->m_currentNavigation);
        break;
    }
}

gboolean WebKitView::loadFailed(WebKitWebView*, WebKitLoadEvent event, const char* failingURI, GError* error, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    self->cancelLoadTimeout();
    self->m_currentNavigationFailed = true;
    auto webError = webErrorFromGError(error, failingURI);
    if (std::exchange(self->m_currentNavigationTimedOut, false)) {
        webError.domain = urlErrorDomain;
        webError.code = urlErrorTimedOut;
    }
    if (auto* client = self->m_client) {
        if (event == WEBKIT_LOAD_STARTED || event == WEBKIT_LOAD_REDIRECTED)
            client->didFailProvisionalNavigation(*self, self->m_currentNavigation, webError);
        else
            client->didFailNavigation(*self, self->m_currentNavigation, webError);
    }
    // No engine error page: the application decides what a failure shows.
    return TRUE;
}

void WebKitView::uriChanged(WebKitWebView* view, GParamSpec*, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    auto* uri = webkit_web_view_get_uri(view);
    auto newURL = uri ? URL::parse(uri) : std::nullopt;
    if (newURL == self->m_url)
        return;
    // A same-document navigation (a link to a fragment) changes the URL without a load.
    self->mainFrameStartedLoading(newURL);
    auto oldURL = std::exchange(self->m_url, newURL);
    self->notifyURLChanged(oldURL, newURL);
}

void WebKitView::titleChanged(WebKitWebView*, GParamSpec*, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    self->notifyTitleChanged(self->title());
}

GtkWidget* WebKitView::createRequested(WebKitWebView*, WebKitNavigationAction* action, WebKitView* self)
{
    // Measured with WebKitGTK 2.50: window.open() comes here without a new-window policy
    // decision; a blank-target link or form comes as that decision and never reaches here.
    auto protectedThis = self->protectedView();
    if (self->m_client)
        self->m_client->didRequestNewWebView(*self, navigationActionFrom(action, false));
    return nullptr;
}

gboolean WebKitView::scriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, WebKitView*)
{
    // Nothing is shown. Alerts are dismissed and confirms answered "cancel" at once; a
    // leave-page prompt lets the navigation go on, as in a page without one.
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
        break;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        break;
    default:
        break;
    }
    return TRUE;
}

gboolean WebKitView::runFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    if (!self->m_client) {
        webkit_file_chooser_request_cancel(request);
        return TRUE;
    }
    OpenPanelParameters parameters;
    parameters.allowsMultipleSelection = webkit_file_chooser_request_get_select_multiple(request);
    self->m_client->runOpenPanel(*self, parameters, [request = GRefPtr<WebKitFileChooserRequest>(request)](std::optional<std::vector<std::filesystem::path>> files) {
        if (!files || files->empty()) {
            webkit_file_chooser_request_cancel(request.get());
            return;
        }
        std::vector<const char*> paths;
        for (const auto& file : *files)
            paths.push_back(file.c_str());
        paths.push_back(nullptr);
        webkit_file_chooser_request_select_files(request.get(), paths.data());
    });
    return TRUE;
}

gboolean WebKitView::userMessageReceived(WebKitWebView*, WebKitUserMessage* message, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    if (std::strcmp(webkit_user_message_get_name(message), "halcyra.script-message"))
        return FALSE;
    auto reply = [message = GRefPtr<WebKitUserMessage>(message)](ScriptReply answer) {
        auto payload = answer.isError() ? answer.errorMessage : answer.value->dump();
        auto* parameters = g_variant_new("(bs)", answer.isError(), payload.c_str());
        webkit_user_message_send_reply(message.get(), webkit_user_message_new("halcyra.script-reply", parameters));
    };
    auto* parameters = webkit_user_message_get_parameters(message);
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) {
        reply(ScriptReply::failure("Malformed message"));
        return TRUE;
    }
    const char* handlerName = nullptr;
    const char* documentURI = nullptr;
    const char* bodyJSON = nullptr;
    g_variant_get(parameters, "(&s&s&s)", &handlerName, &documentURI, &bodyJSON);
    if (!self->m_client || std::ranges::find(self->m_handlerNames, handlerName) == self->m_handlerNames.end()) {
        reply(ScriptReply::failure("No handler"));
        return TRUE;
    }
    auto body = nlohmann::json::parse(bodyJSON, nullptr, false);
    if (body.is_discarded())
        body = nullptr;
    // The origin is the one the web process reported for the sending document, never the body's.
    self->m_client->didReceiveScriptMessage({ handlerName, std::move(body), self->weak_from_this(), originFromURI(documentURI) }, std::move(reply));
    return TRUE;
}

void WebKitView::webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, WebKitView* self)
{
    auto protectedThis = self->protectedView();
    // Nothing of the ended process's navigation will be reported any more.
    self->cancelLoadTimeout();
    self->m_actionsAwaitingFrame.clear();
    auto termination = WebProcessTermination::crashed;
    if (reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT)
        termination = WebProcessTermination::exceededMemoryLimit;
    else if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API)
        termination = WebProcessTermination::terminatedByApplication;
    if (self->m_client)
        self->m_client->webProcessDidTerminate(*self, termination);
}

}

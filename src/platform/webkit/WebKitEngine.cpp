#include "platform/webkit/WebKitEngine.h"

#include "base/InstallPrefix.h"
#include "base/Log.h"
#include "platform/webkit/WebKitErrors.h"
#include "platform/webkit/WebKitGRefTraits.h"
#include "platform/webkit/WebKitView.h"

#include <cstring>
#include <memory>
#include <stdexcept>

namespace halcyra {

// One download of the engine, handed to the client of the view that started it.
class WebKitEngine::DownloadAdapter final : public Download {
public:
    DownloadAdapter(WebKitDownload* download, std::weak_ptr<WebView> view)
        : m_download(GRefPtr<WebKitDownload>(download))
        , m_view(std::move(view))
    {
    }

    std::optional<URL> requestURL() const override
    {
        auto* request = webkit_download_get_request(m_download.get());
        return request ? URL::parse(webkit_uri_request_get_uri(request)) : std::nullopt;
    }
    void cancel() override { webkit_download_cancel(m_download.get()); }

    WebViewClient* client() const
    {
        auto view = m_view.lock();
        return view ? static_cast<WebKitView*>(view.get())->client() : nullptr;
    }

    bool hasFailed { false };

private:
    GRefPtr<WebKitDownload> m_download;
    std::weak_ptr<WebView> m_view;
};

namespace {

    void setFeature(WebKitSettings* settings, const char* identifier, bool isEnabled)
    {
        auto features = adoptGRef(webkit_settings_get_all_features());
        for (gsize index = 0; index < webkit_feature_list_get_length(features.get()); ++index) {
            auto* feature = webkit_feature_list_get(features.get(), index);
            if (!std::strcmp(webkit_feature_get_identifier(feature), identifier))
                webkit_settings_set_feature_enabled(settings, feature, isEnabled);
        }
    }

    // Glibc keeps the heap pages a long-running process freed (platform/glib/FreedHeapMemory.h), and
    // the network process runs none of this application's code to hand them back. WebKit's own
    // memory check does, whenever it releases memory; for network processes it is off unless
    // configured. Checked once a minute, above about 25 MB of the process's own heap (33-41 MB
    // once signed in, of which a release hands back 13-21 MB) it now releases caches and free
    // pages. No kill threshold is set, so the process is never ended for its size.
    void releaseNetworkProcessMemoryAbove25MB()
    {
        auto* settings = webkit_memory_pressure_settings_new();
        webkit_memory_pressure_settings_set_memory_limit(settings, 512);
        webkit_memory_pressure_settings_set_conservative_threshold(settings, 0.05);
        webkit_memory_pressure_settings_set_strict_threshold(settings, 0.5);
        webkit_memory_pressure_settings_set_poll_interval(settings, 60);
        webkit_network_session_set_memory_pressure_settings(settings);
        webkit_memory_pressure_settings_free(settings);
    }

}

WebKitEngine::WebKitEngine(const Configuration& configuration, WebKitEngineOptions options)
    : m_notificationOrigins(options.notificationOrigins)
    , m_showNotification(options.showNotification)
    , m_compositesPages(options.compositesPages)
{
    auto* context = webkit_web_context_get_default();
    // Each new web process learns which origins may notify before any page asks.
    initializeNotificationPermissions(context);
    g_signal_connect(context, "initialize-notification-permissions", G_CALLBACK(+[](WebKitWebContext* context, WebKitEngine* engine) {
        engine->initializeNotificationPermissions(context);
    }),
        this);
    // Measured on the demo tenant after one sign-in: the browser cache model kept four web
    // processes (1.3 GB resident), this model three (1.0 GB). Workday is a single-page
    // application that gains nothing from a back/forward page cache.
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    webkit_web_context_set_web_process_extensions_directory(context, options.webProcessExtensionDirectory.c_str());
    std::vector<const char*> names;
    for (const auto& name : options.scriptMessageHandlerNames)
        names.push_back(name.c_str());
    webkit_web_context_set_web_process_extensions_initialization_user_data(context, g_variant_new_strv(names.data(), static_cast<gssize>(names.size())));

    releaseNetworkProcessMemoryAbove25MB();
    m_networkSession = adoptGRef(webkit_network_session_new(options.dataDirectory.c_str(), options.cacheDirectory.c_str()));
    // Cookies with a lifetime outlive the application, as in any browser: a tenant or sign-in
    // site that remembers the user ("remember me") finds its session again after a restart.
    // Session cookies still end with the process.
    auto cookieFile = options.dataDirectory / "cookies.sqlite";
    webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(m_networkSession.get()), cookieFile.c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    applyConfiguration(configuration);
    g_signal_connect(m_networkSession.get(), "download-started", G_CALLBACK(downloadStarted), this);
}

WebKitEngine::~WebKitEngine()
{
    g_signal_handlers_disconnect_by_data(webkit_web_context_get_default(), this);
    g_signal_handlers_disconnect_by_data(m_networkSession.get(), this);
    for (auto& [download, adapter] : m_downloads)
        g_signal_handlers_disconnect_by_data(download, this);
}

std::filesystem::path WebKitEngine::webProcessExtensionDirectory()
{
    if (const char* overridden = g_getenv("HALCYRA_WEB_PROCESS_EXTENSION_DIR"))
        return overridden;
    return installPrefix() / "lib" / "halcyra" / "web-process-extensions";
}

WebKitEngineOptions WebKitEngine::defaultOptions()
{
    WebKitEngineOptions options;
    options.dataDirectory = std::filesystem::path(g_get_user_data_dir()) / "halcyra";
    options.cacheDirectory = std::filesystem::path(g_get_user_cache_dir()) / "halcyra";
    options.webProcessExtensionDirectory = webProcessExtensionDirectory();
    return options;
}

void WebKitEngine::applyConfiguration(const Configuration& configuration)
{
    if (configuration.proxyURL) {
        GUniquePtr<WebKitNetworkProxySettings> settings(webkit_network_proxy_settings_new(configuration.proxyURL->c_str(), nullptr));
        webkit_network_session_set_proxy_settings(m_networkSession.get(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings.get());
    }
    for (const auto& trusted : configuration.trustedCertificates) {
        GUniqueOutPtr<GError> error;
        auto certificate = adoptGRef(g_tls_certificate_new_from_file(trusted.file.c_str(), error.outPtr()));
        if (!certificate) {
            logError("Halcyra: " + configuration.file.string() + ": trustedCertificates: cannot load " + trusted.file.string() + ": " + (error ? error->message : "unknown error"));
            continue;
        }
        for (const auto& host : trusted.hosts)
            webkit_network_session_allow_tls_certificate_for_host(m_networkSession.get(), certificate.get(), host.c_str());
    }
}

void WebKitEngine::initializeNotificationPermissions(WebKitWebContext* context)
{
    GList* allowed = nullptr;
    for (const auto& origin : m_notificationOrigins)
        allowed = g_list_prepend(allowed, webkit_security_origin_new_for_uri(origin.c_str()));
    webkit_web_context_initialize_notification_permissions(context, allowed, nullptr);
    g_list_free_full(allowed, reinterpret_cast<GDestroyNotify>(webkit_security_origin_unref));
}

std::shared_ptr<WebView> WebKitEngine::makeWebView(const WebViewConfiguration& configuration)
{
    auto view = std::make_shared<WebKitView>(m_networkSession.get(), configuration);
    // Set before the first load, so that the web process starts with them.
    auto* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view->widget()));
    if (!m_compositesPages)
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    // Every page here belongs to the one tenant and its sign-in chain (other sites open in the
    // browser), so a new web process for each site the sign-in passes isolates nothing from a
    // stranger. Measured on the demo tenant: with process swaps and the back/forward cache the
    // sign-in left three web processes (568 MB PSS in all), without them one (292 MB), and the
    // hidden views stay in the main view's process across recoveries.
    setFeature(settings, "ProcessSwapOnCrossSiteNavigation", false);
    setFeature(settings, "UsesBackForwardCache", false);
    auto* widget = view->widget();
    // The allowed origins never ask; any other page that asks is refused.
    g_signal_connect(widget, "permission-request", G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request, gpointer) -> gboolean {
        if (!WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request))
            return FALSE;
        webkit_permission_request_deny(request);
        return TRUE;
    }),
        nullptr);
    // Hidden views read the same pages as the window: their notifications would come twice.
    if (configuration.isNeverShown || !m_showNotification) {
        g_signal_connect(widget, "show-notification", G_CALLBACK(+[](WebKitWebView*, WebKitNotification*, gpointer) -> gboolean { return TRUE; }), nullptr);
        return view;
    }
    // The view keeps its own copy of the handler: it may outlive the engine.
    using ShowNotification = std::function<void(WebKitNotification*)>;
    g_signal_connect_data(
        widget, "show-notification", G_CALLBACK(+[](WebKitWebView*, WebKitNotification* notification, ShowNotification* show) -> gboolean {
            (*show)(notification);
            return TRUE;
        }),
        new ShowNotification(m_showNotification), +[](gpointer show, GClosure*) { delete static_cast<ShowNotification*>(show); }, GConnectFlags(0));
    return view;
}

void WebKitEngine::downloadStarted(WebKitNetworkSession*, WebKitDownload* download, WebKitEngine* engine)
{
    auto* webView = webkit_download_get_web_view(download);
    auto* view = webView ? WebKitView::fromWidget(webView) : nullptr;
    if (!view) {
        webkit_download_cancel(download);
        return;
    }
    auto protectedView = view->shared_from_this();
    auto adapter = std::make_shared<DownloadAdapter>(download, protectedView);
    engine->m_downloads.emplace(download, adapter);

    // Each handler holds the download's adapter for the call: a client that cancels the
    // download ends it (and its entry) before the handler returns.
    g_signal_connect(download, "decide-destination", G_CALLBACK(+[](WebKitDownload* download, const char* suggestedName, WebKitEngine* engine) -> gboolean {
        auto adapter = engine->adapterFor(download);
        auto* client = adapter ? adapter->client() : nullptr;
        auto destination = client ? client->decideDestination(*adapter, suggestedName ? suggestedName : "") : std::nullopt;
        if (!destination) {
            webkit_download_cancel(download);
            return TRUE;
        }
        webkit_download_set_allow_overwrite(download, FALSE);
        webkit_download_set_destination(download, destination->c_str());
        return TRUE;
    }),
        engine);
    g_signal_connect(download, "failed", G_CALLBACK(+[](WebKitDownload* download, GError* error, WebKitEngine* engine) {
        auto adapter = engine->adapterFor(download);
        if (!adapter)
            return;
        adapter->hasFailed = true;
        if (auto* client = adapter->client())
            client->downloadDidFail(*adapter, webErrorFromGError(error, nullptr));
    }),
        engine);
    // "finished" follows "failed" too; the download ends here either way.
    g_signal_connect(download, "finished", G_CALLBACK(+[](WebKitDownload* download, WebKitEngine* engine) {
        auto node = engine->m_downloads.extract(download);
        g_signal_handlers_disconnect_by_data(download, engine);
        if (node.empty() || node.mapped()->hasFailed)
            return;
        if (auto* client = node.mapped()->client())
            client->downloadDidFinish(*node.mapped());
    }),
        engine);

    if (auto* client = view->client())
        client->downloadDidStart(*view, *adapter);
}

std::shared_ptr<WebKitEngine::DownloadAdapter> WebKitEngine::adapterFor(WebKitDownload* download) const
{
    auto found = m_downloads.find(download);
    return found == m_downloads.end() ? nullptr : found->second;
}

}

#pragma once

#include "config/Configuration.h"
#include "platform/glib/GRefPtr.h"
#include "session/WebEngine.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <webkit/webkit.h>

namespace halcyra {

class WebKitView;

struct WebKitEngineOptions {
    // Cookies and storage ($XDG_DATA_HOME/halcyra) and the cache ($XDG_CACHE_HOME/halcyra).
    std::filesystem::path dataDirectory;
    std::filesystem::path cacheDirectory;
    // Where the web process extension that carries script messages is installed.
    std::filesystem::path webProcessExtensionDirectory;
    // The script message channels that every frame gets; a view answers only those it was made with.
    std::vector<std::string> scriptMessageHandlerNames;
    // Origins ("https://host") whose pages may show desktop notifications; every other origin is
    // refused without asking the user.
    std::vector<std::string> notificationOrigins;
    // Shows a notification of a page in a view that a window may show; hidden views show none.
    std::function<void(WebKitNotification*)> showNotification;
    // Off where the only GL is a software rasterizer: the pages are then painted into plain
    // memory, without GL buffers in the web process and the UI process. Hidden views never
    // composite either way.
    bool compositesPages { true };
};

// The WebKitGTK engine: one persistent network session shared by every view, with the
// deployment's proxy and extra trusted certificates, and the downloads of all views.
class WebKitEngine final : public WebEngine {
public:
    // Gives a text naming the problem when a trusted certificate cannot be loaded.
    WebKitEngine(const Configuration&, WebKitEngineOptions);
    ~WebKitEngine() override;

    std::shared_ptr<WebView> makeWebView(const WebViewConfiguration&) override;

    static WebKitEngineOptions defaultOptions();
    static std::filesystem::path webProcessExtensionDirectory();

private:
    class DownloadAdapter;
    static void downloadStarted(WebKitNetworkSession*, WebKitDownload*, WebKitEngine*);
    void initializeNotificationPermissions(WebKitWebContext*);
    void applyConfiguration(const Configuration&);
    std::shared_ptr<DownloadAdapter> adapterFor(WebKitDownload*) const;

    GRefPtr<WebKitNetworkSession> m_networkSession;
    std::vector<std::string> m_notificationOrigins;
    std::function<void(WebKitNotification*)> m_showNotification;
    bool m_compositesPages { true };
    std::map<WebKitDownload*, std::shared_ptr<DownloadAdapter>> m_downloads;
};

}

#pragma once

#include <memory>

namespace halcyra {

class WebView;

// Keeps the main web view running while no window shows it.
class BackgroundSession {
public:
    virtual ~BackgroundSession() = default;
    virtual std::shared_ptr<WebView> webView() const = 0;
    virtual void setWebView(std::shared_ptr<WebView>) = 0;
    // A window took the view: stop hosting it off screen.
    virtual void endOffScreenHosting() = 0;
};

}

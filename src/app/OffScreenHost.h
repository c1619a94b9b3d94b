#pragma once

#include "session/BackgroundSession.h"
#include "session/WebEngine.h"

#include <memory>

namespace halcyra {

// Keeps the main web view alive and running while no window shows it, so that the session
// stays signed in with the window hidden.
class OffScreenHost final : public BackgroundSession {
public:
    std::shared_ptr<WebView> webView() const override { return m_webView; }
    void setWebView(std::shared_ptr<WebView> webView) override { m_webView = std::move(webView); }

    // Lays the view out off screen at its own size.
    void hostOffScreen()
    {
        if (m_webView && !m_isHosting) {
            m_webView->hostOffScreen();
            m_isHosting = true;
        }
    }
    void endOffScreenHosting() override
    {
        if (m_webView && m_isHosting)
            m_webView->endOffScreenHosting();
        m_isHosting = false;
    }
    bool isHostingOffScreen() const { return m_isHosting; }

private:
    std::shared_ptr<WebView> m_webView;
    bool m_isHosting { false };
};

}

#pragma once

#include "session/BackgroundSession.h"
#include "session/CountsPoller.h"
#include "session/DownloadAnnouncer.h"
#include "session/ExternalOpener.h"
#include "session/LockController.h"
#include "session/OpenPanel.h"
#include "session/PollBrowser.h"
#include "session/RosterReader.h"

namespace halcyra {

// Stand-ins for the parts of the application that the session calls into, for wiring that
// does not have the real part (yet): each does nothing and answers "no".

class NullCountsPoller final : public CountsPoller {
public:
    void attach(std::shared_ptr<WebView>) override { }
    void setTaskURL(const std::string&) override { }
    void setNotificationURL(const std::string&) override { }
    void setState(PollState) override { }
    bool isSignInBlocked(const std::optional<URL>&) const override { return false; }
    Task<void> refresh() override { co_return; }
};

class NullPollBrowser final : public PollBrowser {
public:
    void createIfNeeded() override { }
    void discard() override { }
};

class NullLockController final : public LockController {
public:
    bool isLocked() const override { return false; }
    bool isOpenForSignIn() const override { return false; }
    void endSignInOpening() override { }
    void homePageReached() override { }
    LockGate* gate() override { return nullptr; }
};

class NullBackgroundSession final : public BackgroundSession {
public:
    std::shared_ptr<WebView> webView() const override { return m_webView; }
    void setWebView(std::shared_ptr<WebView> webView) override { m_webView = std::move(webView); }
    void endOffScreenHosting() override { }

private:
    std::shared_ptr<WebView> m_webView;
};

class NullRosterReader final : public RosterReader {
public:
    void attach(std::weak_ptr<WebView>) override { }
};

class NullExternalOpener final : public ExternalOpener {
public:
    void openExternally(const URL&) override { }
};

class NullOpenPanel final : public OpenPanel {
public:
    void run(WebView&, const OpenPanelParameters&, OpenPanelCompletion completion) override { completion(std::nullopt); }
};

class NullDownloadAnnouncer final : public DownloadAnnouncer {
public:
    void announceFinishedDownload(const std::filesystem::path&) override { }
};

}

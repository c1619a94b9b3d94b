#pragma once

#include "session/BackgroundSession.h"
#include "session/Connectivity.h"
#include "session/CountsPoller.h"
#include "session/DownloadAnnouncer.h"
#include "session/DownloadsFolder.h"
#include "session/ExternalOpener.h"
#include "session/LockController.h"
#include "session/OpenPanel.h"
#include "session/PollBrowser.h"
#include "session/RosterReader.h"
#include "session/WorkdayWebCoordinator.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace halcyra {

// Records what the session asks of the counts poller.
class FakeCountsPoller final : public CountsPoller {
public:
    void attach(std::shared_ptr<WebView> view) override { attachedViews.push_back(view); }
    void setTaskURL(const std::string& url) override { taskURL = url; }
    void setNotificationURL(const std::string& url) override { notificationURL = url; }
    void setState(PollState newState) override { lastState = newState; }
    bool isSignInBlocked(const std::optional<URL>& url) const override { return signInBlockedTest && signInBlockedTest(url); }
    Task<void> refresh() override
    {
        ++refreshCount;
        co_return;
    }

    std::vector<std::shared_ptr<WebView>> attachedViews;
    std::string taskURL;
    std::string notificationURL;
    std::optional<PollState> lastState;
    std::function<bool(const std::optional<URL>&)> signInBlockedTest;
    int refreshCount { 0 };
};

class FakePollBrowser final : public PollBrowser {
public:
    void createIfNeeded() override { ++createCount; }
    void discard() override { ++discardCount; }
    int createCount { 0 };
    int discardCount { 0 };
};

// The lock and its gate, whose authentication the test completes by hand.
class FakeLockController final : public LockController, public LockGate {
public:
    bool isLocked() const override { return locked; }
    bool isOpenForSignIn() const override { return openForSignIn; }
    void endSignInOpening() override { openForSignIn = false; }
    void homePageReached() override { ++homePageReachedCount; }
    LockGate* gate() override { return this; }
    void lock() override { }
    void authenticate(std::function<void(bool)> completion) override { m_pendingAuthentications.push_back(std::move(completion)); }

    void finishAuthentication(bool succeeded)
    {
        auto completion = std::move(m_pendingAuthentications.front());
        m_pendingAuthentications.pop_front();
        completion(succeeded);
    }

    int homePageReachedCount { 0 };
    bool locked { false };
    bool openForSignIn { false };

private:
    std::deque<std::function<void(bool)>> m_pendingAuthentications;
};

class FakeBackgroundSession final : public BackgroundSession {
public:
    std::shared_ptr<WebView> webView() const override { return view; }
    void setWebView(std::shared_ptr<WebView> newView) override { view = std::move(newView); }
    void endOffScreenHosting() override { }

    std::shared_ptr<WebView> view;
};

class FakeRosterReader final : public RosterReader {
public:
    void attach(std::weak_ptr<WebView> view) override { attachedViews.push_back(view); }
    std::vector<std::weak_ptr<WebView>> attachedViews;
};

class FakeExternalOpener final : public ExternalOpener {
public:
    void openExternally(const URL& url) override { openedURLs.push_back(url); }
    std::vector<URL> openedURLs;
};

class FakeOpenPanel final : public OpenPanel {
public:
    void run(WebView&, const OpenPanelParameters&, OpenPanelCompletion completion) override { completion(std::nullopt); }
};

// A Downloads folder in which every name is taken.
class FullDownloadsFolder final : public DownloadsFolder {
public:
    std::optional<std::filesystem::path> location() const override { return "/home/demo/Downloads"; }
    bool fileExists(const std::filesystem::path&) const override { return true; }
};

class FakeDownloadAnnouncer final : public DownloadAnnouncer {
public:
    void announceFinishedDownload(const std::filesystem::path& path) override { announcedPaths.push_back(path); }
    std::vector<std::filesystem::path> announcedPaths;
};

// Network path and wake events that the test sends by hand.
class FakeNetworkPathMonitor final : public NetworkPathMonitor {
public:
    [[nodiscard]] Connection observe(std::function<void(bool)> observer) override { return m_changes.connect(std::move(observer)); }
    void send(bool isSatisfied) { m_changes.notify(isSatisfied); }

private:
    Signal<bool> m_changes;
};

class FakeWakeMonitor final : public WakeMonitor {
public:
    [[nodiscard]] Connection observe(std::function<void()> observer) override { return m_wakes.connect(std::move(observer)); }
    void wake() { m_wakes.notify(); }

private:
    Signal<> m_wakes;
};

// Everything a coordinator works with besides the engine, the settings and the credential
// store, as fakes: for tests that build a coordinator of their own.
struct FakeCoordinatorCollaborators {
    // Downloads go to the folder the desktop names, else to Downloads in `home`; with neither
    // there is no Downloads folder.
    explicit FakeCoordinatorCollaborators(std::optional<std::filesystem::path> downloadsLocation = std::nullopt, std::filesystem::path home = {})
        : downloadsFolder(std::move(downloadsLocation), std::move(home))
    {
    }

    // `background` stands in for the fake background session where a test has a real one.
    WorkdayWebCoordinator::Collaborators collaborators(BackgroundSession& background)
    {
        return { poller, pollBrowser, lockController, background, rosterReader, externalOpener, openPanel, downloadsFolder, downloadAnnouncer };
    }
    WorkdayWebCoordinator::Collaborators collaborators() { return collaborators(backgroundSession); }

    FakeNetworkPathMonitor networkPathMonitor;
    FakeWakeMonitor wakeMonitor;
    FakeCountsPoller poller;
    FakePollBrowser pollBrowser;
    FakeLockController lockController;
    FakeBackgroundSession backgroundSession;
    FakeRosterReader rosterReader;
    FakeExternalOpener externalOpener;
    FakeOpenPanel openPanel;
    UserDownloadsFolder downloadsFolder;
    FakeDownloadAnnouncer downloadAnnouncer;
};

}

#pragma once

#include "base/Signal.h"
#include "counts/CountsReading.h"
#include "platform/glib/GRefPtr.h"

#include <functional>
#include <gtk/gtk.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

class Authenticator;
class GateController;
class LockGateOverlay;
class MainToolbar;
class RosterExporter;
class RunLoop;
class SettingsStore;
class WakeMonitor;
class WebView;
class WindowActivityMonitor;
class WorkdayPoller;
class WorkdayWebCoordinator;
enum class BubbleKind;

// What the main window reads and drives.
struct MainWindowModels {
    RunLoop& loop;
    SettingsStore& settings;
    WorkdayWebCoordinator& coordinator;
    WorkdayPoller& poller;
    GateController& lockController;
    Authenticator& authenticator;
    WindowActivityMonitor& windowActivity;
    WakeMonitor& wakeMonitor;
    RosterExporter& roster;
};

// The main window: the toolbar (navigation, subtitle, lock, busy indicator, count bubbles, menu)
// over the one main web view, with the lock gate laid over the page. Closing it only hides it;
// the application goes on. It keeps no state of its own: it re-reads the models whenever one
// of them announces a change, and shows the counts reading it was handed last.
class MainWindow {
public:
    MainWindow(GtkApplication*, const std::shared_ptr<WebView>&, MainWindowModels, GMenuModel* primaryMenu);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    void present();
    GtkWindow* window() const { return GTK_WINDOW(m_window.get()); }

    // Every toolbar action but the lock button: while locked, the action runs only after the
    // user authenticated.
    void performUnlocked(std::function<void()> action);
    // The inbox, as the task bubble opens it.
    void openInbox();

private:
    void restoreFrame();
    void saveFrame();
    void scheduleRefresh();
    void refresh();
    void goBack();
    void goForward();
    void openBubble(BubbleKind);
    void openBubblePage(const char* kind, const char* automationID, const std::optional<std::string>& url);
    void showRosterErrorIfNeeded();

    MainWindowModels m_models;
    GRefPtr<GtkWidget> m_window;
    std::shared_ptr<WebView> m_webView;
    // The poller's reading as last handed out.
    CountsReading m_reading;
    GtkWidget* m_webViewWidget { nullptr };
    std::unique_ptr<MainToolbar> m_toolbar;
    std::unique_ptr<LockGateOverlay> m_gate;
    std::vector<Connection> m_observations;
    unsigned m_refreshSource { 0 };
    unsigned m_subtitleTick { 0 };
    bool m_isShowingRosterError { false };
    // Signal handlers and idle callbacks reach the window only while it lives.
    std::shared_ptr<MainWindow*> m_weakThis { std::make_shared<MainWindow*>(this) };
};

}

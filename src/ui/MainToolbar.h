#pragma once

#include "platform/glib/GRefPtr.h"
#include "ui/CountBubbles.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtk/gtk.h>

namespace halcyra {

// What the toolbar shows; the window re-reads the models and hands over a new state whenever
// one of them publishes.
struct ToolbarState {
    std::string subtitle;
    bool canGoBack { false };
    bool canGoForward { false };
    bool isLocked { false };
    bool isBusy { false };
    // The roster button shows on a roster page; an export in progress replaces it by its text.
    bool isRosterPage { false };
    std::optional<std::string> rosterProgress;
    std::vector<CountBubble> bubbles;
};

// What the toolbar's controls ask for. Every action but the lock button goes through the
// window's locked-action rule before it reaches these.
struct ToolbarActions {
    std::function<void()> goBack;
    std::function<void()> goForward;
    std::function<void()> goHome;
    std::function<void()> toggleLock;
    std::function<void()> downloadRoster;
    std::function<void(BubbleKind)> openBubble;
};

// The main window's header bar: back, forward and home; the title and subtitle; the roster
// button or its progress, the lock button, the busy spinner and the count bubbles; the menu.
class MainToolbar {
public:
    MainToolbar(GtkWidget* headerBar, const char* title, GMenuModel* primaryMenu, ToolbarActions);
    ~MainToolbar();
    MainToolbar(const MainToolbar&) = delete;
    MainToolbar& operator=(const MainToolbar&) = delete;

    void update(const ToolbarState&);

private:
    void connectClicked(GtkWidget* button, std::function<void()>* action);
    void updateBubbles(const std::vector<CountBubble>&);

    ToolbarActions m_actions;
    GRefPtr<GtkWidget> m_headerBar;
    GtkWidget* m_windowTitle { nullptr };
    GtkWidget* m_backButton { nullptr };
    GtkWidget* m_forwardButton { nullptr };
    GtkWidget* m_rosterButton { nullptr };
    GtkWidget* m_rosterProgress { nullptr };
    GtkWidget* m_lockButton { nullptr };
    GtkWidget* m_busySpinner { nullptr };
    GtkWidget* m_bubbleBox { nullptr };
    std::vector<CountBubble> m_shownBubbles;
    std::vector<std::pair<GtkWidget*, gulong>> m_clickHandlers;
};

}

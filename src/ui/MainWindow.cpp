#include "MainWindow.h"

#include "base/Localization.h"
#include "base/RunLoop.h"
#include "counts/WorkdayPoller.h"
#include "lock/GateController.h"
#include "platform/desktop/X11WindowPlacement.h"
#include "platform/gtk/ViewWidget.h"
#include "roster/RosterExporter.h"
#include "session/Connectivity.h"
#include "session/WorkdayWebCoordinator.h"
#include "ui/AccessibleNames.h"
#include "ui/CountBubbles.h"
#include "ui/LockGateOverlay.h"
#include "ui/MainToolbar.h"
#include "ui/WindowActivityMonitor.h"
#include "window/MainWindowFrame.h"

#include <adwaita.h>

namespace halcyra {

namespace {

    constexpr const char* windowTitle = "Ashgrove Workday";
    constexpr int defaultWindowWidth = 800;
    constexpr int defaultWindowHeight = 900;
    constexpr unsigned subtitleTickSeconds = 60;

    // Locked, the page stays in view but blurred beyond reading: at a 1-pixel blur the tasks in
    // the inbox and a roster's names could still be read from the screen. From 6 pixels on the
    // largest heading is a shape; 10 leaves a margin.
    const char* blurCSS = R"(
.halcyra-page { filter: blur(0px); transition: filter 250ms ease-in-out; }
.halcyra-page.locked { filter: blur(10px); }
)";

    void installBlurStyleOnce()
    {
        static bool isInstalled = false;
        if (std::exchange(isInstalled, true))
            return;
        GRefPtr<GtkCssProvider> provider = adoptGRef(gtk_css_provider_new());
        gtk_css_provider_load_from_data(provider.get(), blurCSS, -1);
        gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider.get()), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }

}

MainWindow::MainWindow(GtkApplication* application, const std::shared_ptr<WebView>& webView, MainWindowModels models, GMenuModel* primaryMenu)
    : m_models(models)
    , m_window(adw_application_window_new(application))
    , m_webView(webView)
    , m_reading(models.poller.reading())
{
    installBlurStyleOnce();
    auto* window = GTK_WINDOW(m_window.get());
    gtk_window_set_title(window, windowTitle);
    gtk_window_set_default_size(window, defaultWindowWidth, defaultWindowHeight);
    gtk_window_set_hide_on_close(window, TRUE);
    restoreFrame();

    auto* headerBar = adw_header_bar_new();
    std::weak_ptr<MainWindow*> weakThis = m_weakThis;
    auto unlocked = [weakThis](void (MainWindow::*member)()) {
        return [weakThis, member] {
            if (auto self = weakThis.lock())
                (*self)->performUnlocked([weakThis, member] {
                    if (auto self = weakThis.lock())
                        ((**self).*member)();
                });
        };
    };
    ToolbarActions actions;
    actions.goBack = unlocked(&MainWindow::goBack);
    actions.goForward = unlocked(&MainWindow::goForward);
    actions.goHome = [this] { performUnlocked([&coordinator = m_models.coordinator] { coordinator.loadHome(); }); };
    actions.toggleLock = [&lockController = m_models.lockController] { lockController.toggle(); };
    actions.downloadRoster = [this] { performUnlocked([&roster = m_models.roster] { roster.exportRoster(); }); };
    actions.openBubble = [this](BubbleKind kind) { openBubble(kind); };
    m_toolbar = std::make_unique<MainToolbar>(headerBar, windowTitle, primaryMenu, std::move(actions));

    auto* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(content), headerBar);
    m_webViewWidget = dynamic_cast<ViewWidget&>(*webView).widget();
    gtk_widget_set_vexpand(m_webViewWidget, TRUE);
    gtk_widget_set_hexpand(m_webViewWidget, TRUE);
    gtk_widget_add_css_class(m_webViewWidget, "halcyra-page");
    m_gate = std::make_unique<LockGateOverlay>(m_webViewWidget, m_models.authenticator);
    gtk_widget_set_vexpand(m_gate->widget(), TRUE);
    // The locked page's blur reaches beyond the page; kept to the page's own place, it leaves the
    // toolbar above it alone.
    gtk_widget_set_overflow(m_gate->widget(), GTK_OVERFLOW_HIDDEN);
    gtk_box_append(GTK_BOX(content), m_gate->widget());
    adw_application_window_set_content(ADW_APPLICATION_WINDOW(window), content);
    // Typing goes to the page (the sign-in form focuses its first field), not the toolbar.
    gtk_window_set_focus(window, m_webViewWidget);
    m_models.lockController.attach(m_gate->gate());
    m_models.windowActivity.watch(m_window.get());

    auto refreshLater = [this] { scheduleRefresh(); };
    m_observations.push_back(m_models.poller.observeReading([this](const CountsReading& reading) {
        m_reading = reading;
        scheduleRefresh();
    }));
    m_observations.push_back(m_models.coordinator.observeNavigationStateRevision(refreshLater));
    m_observations.push_back(m_models.lockController.observeLockStateWillChange(refreshLater));
    m_observations.push_back(m_models.wakeMonitor.observe(refreshLater));
    m_observations.push_back(m_models.roster.observeWillChange(refreshLater));
    g_signal_connect_swapped(window, "notify::is-active", G_CALLBACK(+[](MainWindow* self) { self->scheduleRefresh(); }), this);
    g_signal_connect_swapped(window, "notify::default-width", G_CALLBACK(+[](MainWindow* self) { self->saveFrame(); }), this);
    g_signal_connect_swapped(window, "notify::default-height", G_CALLBACK(+[](MainWindow* self) { self->saveFrame(); }), this);
    observeWindowMoves(window, [weakThis] {
        if (auto self = weakThis.lock())
            (*self)->saveFrame();
    });
    m_subtitleTick = g_timeout_add_seconds(
        subtitleTickSeconds, +[](gpointer self) -> gboolean {
        static_cast<MainWindow*>(self)->refresh();
        return G_SOURCE_CONTINUE; }, this);
    refresh();
}

MainWindow::~MainWindow()
{
    g_signal_handlers_disconnect_by_data(m_window.get(), this);
    g_source_remove(m_subtitleTick);
    if (m_refreshSource)
        g_source_remove(m_refreshSource);
    gtk_window_destroy(window());
}

void MainWindow::present()
{
    gtk_window_present(window());
}

void MainWindow::performUnlocked(std::function<void()> action)
{
    auto* gate = m_models.lockController.gate();
    if (!gate || !m_models.lockController.isLocked())
        return action();
    gate->authenticate([action = std::move(action)](bool isAuthenticated) {
        if (isAuthenticated)
            action();
    });
}

void MainWindow::restoreFrame()
{
    auto saved = savedMainWindowFrame(m_models.settings);
    if (!saved)
        return;
    auto frame = validatedMainWindowFrame(*saved, monitorWorkAreas(m_window.get()));
    if (!frame)
        return;
    gtk_window_set_default_size(window(), int(frame->width), int(frame->height));
    // Wayland leaves the position to the compositor: there only the size comes back.
    placeWindowWhenShown(window(), frame->x, frame->y);
}

void MainWindow::saveFrame()
{
    int width = 0;
    int height = 0;
    gtk_window_get_default_size(window(), &width, &height);
    if (width <= 0 || height <= 0)
        return;
    // Where the position cannot be read (Wayland), the one saved before stays.
    auto frame = savedMainWindowFrame(m_models.settings).value_or(Rect {});
    if (auto position = windowPosition(window()))
        std::tie(frame.x, frame.y) = *position;
    frame.width = width;
    frame.height = height;
    if (frame != savedMainWindowFrame(m_models.settings))
        saveMainWindowFrame(m_models.settings, frame);
}

// Models announce a change before they make it: the window reads them once the loop is idle.
void MainWindow::scheduleRefresh()
{
    if (m_refreshSource)
        return;
    // At default priority: at idle priority the spinner's frames and the web views' traffic
    // could put the refresh off for as long as they last.
    m_refreshSource = g_idle_add_full(
        G_PRIORITY_DEFAULT, +[](gpointer self) -> gboolean {
        static_cast<MainWindow*>(self)->m_refreshSource = 0;
        static_cast<MainWindow*>(self)->refresh();
        return G_SOURCE_REMOVE; }, this, nullptr);
}

void MainWindow::refresh()
{
    auto& endpoints = m_models.coordinator.endpoints();
    ToolbarState state;
    state.subtitle = subtitleText(m_reading, m_models.loop.wallNow());
    state.canGoBack = m_webView->canGoBack() && !endpoints.isSignInFlowURL(m_webView->backItemURL());
    state.canGoForward = m_webView->canGoForward() && !endpoints.isSignInFlowURL(m_webView->forwardItemURL());
    state.isLocked = m_models.lockController.isLocked();
    state.isBusy = m_reading.isBusy;
    state.isRosterPage = m_models.roster.isRosterPage();
    state.rosterProgress = m_models.roster.progress();
    state.bubbles = countBubbles(m_reading);
    m_toolbar->update(state);
    if (state.isLocked)
        gtk_widget_add_css_class(m_webViewWidget, "locked");
    else
        gtk_widget_remove_css_class(m_webViewWidget, "locked");
    showRosterErrorIfNeeded();
}

// Shown while the exporter holds a message; dismissing it clears the message.
void MainWindow::showRosterErrorIfNeeded()
{
    auto& message = m_models.roster.errorMessage();
    if (!message || m_isShowingRosterError)
        return;
    m_isShowingRosterError = true;
    auto* alert = adw_message_dialog_new(window(), _("Couldn't Download the Roster"), message->c_str());
    adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(alert), "ok", _("OK"));
    nameButtonsOnce(alert);
    std::weak_ptr<MainWindow*> weakThis = m_weakThis;
    auto* context = new std::weak_ptr<MainWindow*>(weakThis);
    g_signal_connect_data(
        alert, "response", G_CALLBACK(+[](AdwMessageDialog*, const char*, std::weak_ptr<MainWindow*>* weakThis) {
            if (auto self = weakThis->lock()) {
                (*self)->m_isShowingRosterError = false;
                (*self)->m_models.roster.clearErrorMessage();
            }
        }),
        context, +[](gpointer context, GClosure*) { delete static_cast<std::weak_ptr<MainWindow*>*>(context); }, GConnectFlags(0));
    gtk_window_present(GTK_WINDOW(alert));
}

void MainWindow::goBack()
{
    if (m_webView->canGoBack() && !m_models.coordinator.endpoints().isSignInFlowURL(m_webView->backItemURL()))
        m_webView->goBack();
}

void MainWindow::goForward()
{
    if (m_webView->canGoForward() && !m_models.coordinator.endpoints().isSignInFlowURL(m_webView->forwardItemURL()))
        m_webView->goForward();
}

void MainWindow::openInbox()
{
    openBubble(BubbleKind::task);
}

void MainWindow::openBubble(BubbleKind kind)
{
    switch (kind) {
    case BubbleKind::draft:
        return performUnlocked([this, url = m_reading.reportsURL] {
            if (url)
                m_models.coordinator.navigate(*url);
        });
    case BubbleKind::prepaid:
        return performUnlocked([this, url = m_reading.prepaidURL] {
            if (url)
                m_models.coordinator.navigate(*url);
        });
    case BubbleKind::notification:
        return openBubblePage("notification", "notification_preview", m_reading.notificationURL);
    case BubbleKind::task:
        return openBubblePage("task", "inbox_preview", m_reading.taskURL);
    }
}

void MainWindow::openBubblePage(const char* kind, const char* automationID, const std::optional<std::string>& url)
{
    performUnlocked([this, kind, automationID, url] {
        auto& coordinator = m_models.coordinator;
        if (coordinator.isOnHomePage())
            coordinator.clickAutomationID(automationID, kind);
        else if (url)
            coordinator.navigate(*url);
    });
}

}

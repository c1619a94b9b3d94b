#pragma once

#include "platform/glib/GRefPtr.h"

#include <cstdint>
#include <functional>
#include <gio/gio.h>
#include <map>
#include <webkit/webkit.h>

namespace halcyra {

// The notifications that Workday's own pages show, as desktop notifications. Each stays on the
// desktop until the page closes it; a click brings the window forward and tells the page, which
// then shows what the notification was about.
class WebNotifications {
public:
    // The action a click activates, with the notification's number as its target.
    static constexpr const char* clickedAction = "web-notification-clicked";

    WebNotifications(GApplication*, std::function<void()> presentMainWindow);
    ~WebNotifications();

    void show(WebKitNotification*);
    void clicked(std::uint64_t notificationID);

private:
    static std::string desktopID(std::uint64_t notificationID);
    void forget(WebKitNotification*);

    GApplication* m_application;
    std::function<void()> m_presentMainWindow;
    std::map<std::uint64_t, GRefPtr<WebKitNotification>> m_shown;
};

}

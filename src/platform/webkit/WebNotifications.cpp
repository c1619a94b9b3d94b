#include "platform/webkit/WebNotifications.h"

#include <string>

namespace halcyra {

WebNotifications::WebNotifications(GApplication* application, std::function<void()> presentMainWindow)
    : m_application(application)
    , m_presentMainWindow(std::move(presentMainWindow))
{
}

WebNotifications::~WebNotifications()
{
    for (auto& [id, notification] : m_shown)
        g_signal_handlers_disconnect_by_data(notification.get(), this);
}

std::string WebNotifications::desktopID(std::uint64_t notificationID)
{
    std::string id = "web-";
    id += std::to_string(notificationID);
    return id;
}

void WebNotifications::show(WebKitNotification* notification)
{
    auto id = webkit_notification_get_id(notification);
    GRefPtr<GNotification> desktopNotification = adoptGRef(g_notification_new(webkit_notification_get_title(notification)));
    if (const char* body = webkit_notification_get_body(notification); body && *body)
        g_notification_set_body(desktopNotification.get(), body);
    g_notification_set_default_action_and_target_value(desktopNotification.get(), (std::string("app.") + clickedAction).c_str(), g_variant_new_uint64(id));
    g_application_send_notification(m_application, desktopID(id).c_str(), desktopNotification.get());

    if (!m_shown.contains(id)) {
        m_shown.emplace(id, GRefPtr<WebKitNotification>(notification));
        g_signal_connect(notification, "closed", G_CALLBACK(+[](WebKitNotification* notification, WebNotifications* self) {
            g_application_withdraw_notification(self->m_application, desktopID(webkit_notification_get_id(notification)).c_str());
            self->forget(notification);
        }),
            this);
    }
}

void WebNotifications::clicked(std::uint64_t notificationID)
{
    m_presentMainWindow();
    auto found = m_shown.find(notificationID);
    if (found == m_shown.end())
        return;
    // The page decides what a click shows, in the window now in front.
    webkit_notification_clicked(found->second.get());
}

void WebNotifications::forget(WebKitNotification* notification)
{
    auto found = m_shown.find(webkit_notification_get_id(notification));
    if (found == m_shown.end())
        return;
    g_signal_handlers_disconnect_by_data(notification, this);
    m_shown.erase(found);
}

}

#include "platform/desktop/DesktopNotifications.h"

#include "base/Localization.h"
#include "notifications/NewTaskNotifier.h"
#include "platform/glib/GRefPtr.h"

#include <string>

namespace halcyra {

DesktopNotifications::DesktopNotifications(GApplication* application)
    : m_application(application)
{
}

void DesktopNotifications::showNewTasks(std::int64_t newTasks)
{
    GRefPtr<GNotification> notification = adoptGRef(g_notification_new(newTaskNotificationTitle(newTasks).c_str()));
    g_notification_set_body(notification.get(), _("Click to open your Workday inbox."));
    g_notification_set_default_action(notification.get(), (std::string("app.") + openInboxAction).c_str());
    g_application_send_notification(m_application, "new-tasks", notification.get());
}

}

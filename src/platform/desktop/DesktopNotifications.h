#pragma once

#include <cstdint>
#include <gio/gio.h>

namespace halcyra {

// Halcyra's desktop notifications, sent through GApplication, which uses the notification portal
// inside a sandbox and the desktop's notification service elsewhere. A newer notification of a
// kind replaces one the user has not looked at yet.
class DesktopNotifications {
public:
    // The action a click on the new-tasks notification activates.
    static constexpr const char* openInboxAction = "open-inbox";

    explicit DesktopNotifications(GApplication*);

    void showNewTasks(std::int64_t newTasks);

private:
    GApplication* m_application;
};

}

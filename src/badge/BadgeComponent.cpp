#include "BadgeComponent.h"

namespace halcyra {

const std::vector<BadgeComponent>& badgeComponents()
{
    static const std::vector<BadgeComponent> components {
        { "task", "Tasks", "tray", "Include the outstanding task count in the badge.", BadgeSettings::Field::includeTask },
        { "notification", "Notifications", "bell", "Include the notification count in the badge.", BadgeSettings::Field::includeNotification },
        { "prepaid", "Prepaid Expense Transactions", "creditcard", "Include the prepaid credit-card transaction count in the badge.", BadgeSettings::Field::includePrepaid },
        { "draft", "Draft Expense Reports", "doc.text", "Include the draft expense-report count in the badge.", BadgeSettings::Field::includeDraft },
    };
    return components;
}

}

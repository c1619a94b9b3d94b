#pragma once

#include "BadgeSettings.h"

#include <string>
#include <vector>

namespace halcyra {

// One switch of the badge preferences: a count kind and the setting that includes it.
struct BadgeComponent {
    std::string id;
    std::string title;
    // Symbol name of the count's icon.
    std::string systemImage;
    // Tooltip of the switch.
    std::string help;
    BadgeSettings::Field keyPath;
};

// The four switches in the order the preferences show them.
const std::vector<BadgeComponent>& badgeComponents();

}

#pragma once

#include <string>
#include <string_view>

namespace halcyra {

// The page scripts that read the four counts, with the tenant host built in. Each is an
// expression giving a plain object; none waits or changes the page.

// {"pageLoading", "task", "notification"} from the home page header.
std::string homeCountsScript(const std::string& tenantHost);
// {"loaded", "prepaid"} from the expenses hub.
std::string prepaidScript(const std::string& tenantHost);
// {"gridPresent", "erRows", "draft"} from the expense-report grid.
std::string draftReportsScript(const std::string& tenantHost);
// Injected at document start: the page always sees itself as visible.
std::string_view visibilityOverrideScript();

// A regular expression source that matches `text` literally anywhere in a string.
std::string literalPattern(const std::string& text);

}

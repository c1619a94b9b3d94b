#pragma once

#include <string>
#include <string_view>

namespace halcyra {

// The roster page scripts, each the body of an async function run in the isolated world.
// Waits for the roster table to show rows: true, or false after about 15 seconds.
std::string rosterWaitScript();
// Reads every student of the roster table as JSON text, or null when there is no table.
std::string rosterReadScript();
// Fetches the photo at the argument "url" with the page's session: base64 text, or null.
std::string_view photoFetchScript();

}

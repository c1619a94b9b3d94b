#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace halcyra {

// Replaces `path` with `contents`: a temporary file in the same folder, fsync, rename, fsync of
// the folder. Readers see the old or the new file, never a mix. Gives an error text on failure.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

}

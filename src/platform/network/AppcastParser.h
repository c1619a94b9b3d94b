#pragma once

#include "update/SoftwareUpdater.h"

#include <string_view>

namespace halcyra {

// Larger feeds are refused unread: a real appcast is a few kilobytes.
constexpr size_t maximumAppcastSize = 1024 * 1024;

// The releases of an RSS appcast (`sparkle:version` as an element or an enclosure attribute), or
// a failure for a document that is not well-formed, too large, or names entities of its own.
FeedResult parseAppcast(std::string_view document);

}

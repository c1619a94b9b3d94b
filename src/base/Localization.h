#pragma once

// Marks a user-visible text for translation; the template po/halcyra.pot is generated from
// every use (make pot). Without a translation the text stands as written.
#include <libintl.h>

#ifndef _
#define _(text) gettext(text)
#endif
#ifndef N_
#define N_(text) text
#endif

#include <string>

namespace halcyra {

// The translated `format` with its one "%s" replaced by `value`, so that translators see whole
// sentences rather than pieces.
inline std::string formatted(const char* format, const std::string& value)
{
    std::string text = format;
    if (auto position = text.find("%s"); position != std::string::npos)
        text.replace(position, 2, value);
    return text;
}

}

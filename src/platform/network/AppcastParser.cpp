#include "platform/network/AppcastParser.h"

#include "base/Localization.h"
#include "base/Log.h"
#include "platform/glib/GRefPtr.h"

#include <cstring>
#include <glib.h>

namespace halcyra {

template <>
struct GPtrDeleter<GMarkupParseContext> {
    void operator()(GMarkupParseContext* context) const { g_markup_parse_context_free(context); }
};

namespace {

    struct ParseState {
        std::vector<AppcastItem> items;
        std::optional<AppcastItem> item;
        std::string releaseNotesURL;
        std::string enclosureURL;
        // The element whose text is being read inside an item.
        std::string textElement;
        std::string text;
    };

    std::string trimmed(const std::string& text)
    {
        constexpr const char* whitespace = " \t\r\n";
        auto first = text.find_first_not_of(whitespace);
        if (first == std::string::npos)
            return {};
        return text.substr(first, text.find_last_not_of(whitespace) - first + 1);
    }

    bool isWebPage(const std::string& url)
    {
        return url.starts_with("https://");
    }

    // A version is a few numbers and words; a longer one is no release of ours, and its text
    // would fill the update dialog's title.
    bool isVersionLike(const std::string& version)
    {
        constexpr size_t longestVersion = 64;
        return !version.empty() && version.size() <= longestVersion;
    }

    void startElement(GMarkupParseContext*, const char* name, const char** attributeNames, const char** attributeValues, gpointer data, GError**)
    {
        auto& state = *static_cast<ParseState*>(data);
        if (!std::strcmp(name, "item")) {
            state.item = AppcastItem {};
            state.releaseNotesURL.clear();
            state.enclosureURL.clear();
            return;
        }
        if (!state.item)
            return;
        if (!std::strcmp(name, "enclosure")) {
            for (size_t index = 0; attributeNames[index]; ++index) {
                std::string_view attribute = attributeNames[index];
                if (attribute == "sparkle:version" && state.item->version.empty())
                    state.item->version = attributeValues[index];
                else if (attribute == "sparkle:shortVersionString" && state.item->shortVersion.empty())
                    state.item->shortVersion = attributeValues[index];
                else if (attribute == "url")
                    state.enclosureURL = attributeValues[index];
            }
            return;
        }
        state.textElement = name;
        state.text.clear();
    }

    void endElement(GMarkupParseContext*, const char* name, gpointer data, GError**)
    {
        auto& state = *static_cast<ParseState*>(data);
        if (!state.item)
            return;
        if (!std::strcmp(name, "item")) {
            auto item = *std::exchange(state.item, std::nullopt);
            for (auto* candidate : { &item.releasePageURL, &state.releaseNotesURL, &state.enclosureURL }) {
                if (isWebPage(*candidate)) {
                    item.releasePageURL = *candidate;
                    break;
                }
            }
            if (!isWebPage(item.releasePageURL))
                item.releasePageURL.clear();
            if (isVersionLike(item.version) && (item.shortVersion.empty() || isVersionLike(item.shortVersion)))
                state.items.push_back(std::move(item));
            return;
        }
        if (state.textElement != name)
            return;
        auto text = trimmed(state.text);
        if (state.textElement == "title")
            state.item->title = text;
        else if (state.textElement == "sparkle:version")
            state.item->version = text;
        else if (state.textElement == "sparkle:shortVersionString")
            state.item->shortVersion = text;
        else if (state.textElement == "link")
            state.item->releasePageURL = text;
        else if (state.textElement == "sparkle:releaseNotesLink")
            state.releaseNotesURL = text;
        state.textElement.clear();
    }

    void textContent(GMarkupParseContext*, const char* text, gsize length, gpointer data, GError**)
    {
        auto& state = *static_cast<ParseState*>(data);
        if (state.item && !state.textElement.empty())
            state.text.append(text, length);
    }

}

FeedResult parseAppcast(std::string_view document)
{
    if (document.size() > maximumAppcastSize)
        return FeedFailure { _("The update feed is larger than expected.") };

    static const GMarkupParser parser = { startElement, endElement, textContent, nullptr, nullptr };
    ParseState state;
    // GMarkup knows only XML's five predefined entities and never reads a DTD, so a feed cannot
    // make the parser expand entities of its own.
    GUniquePtr<GMarkupParseContext> context(g_markup_parse_context_new(&parser, G_MARKUP_DEFAULT_FLAGS, &state, nullptr));
    GUniqueOutPtr<GError> error;
    if (!g_markup_parse_context_parse(context.get(), document.data(), static_cast<gssize>(document.size()), error.outPtr())
        || !g_markup_parse_context_end_parse(context.get(), error.outPtr())) {
        // The parser's own words (a line, a column, an example of XML) help whoever runs the feed,
        // not the user.
        logVerbose(std::string("[Update] the feed is not well-formed XML: ") + error->message);
        return FeedFailure { _("The update feed is not a valid release feed.") };
    }
    return std::move(state.items);
}

}

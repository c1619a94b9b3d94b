#pragma once

#include "session/WebEngine.h"

namespace halcyra {

// What a hidden poll view answers when its page asks for the user: nothing ever appears. New
// windows are refused and file choosers cancelled; the engine dismisses alerts and answers
// confirms with "cancel" by itself.
class PollWebViewUIHandler final : public WebViewClient {
public:
    void didRequestNewWebView(WebView&, const NavigationAction&) override { }
    void runOpenPanel(WebView&, const OpenPanelParameters&, OpenPanelCompletion completion) override { completion(std::nullopt); }
    void didReceiveScriptMessage(const ScriptMessage&, ScriptReplyHandler reply) override { reply(ScriptReply::failure("No handler")); }
};

}

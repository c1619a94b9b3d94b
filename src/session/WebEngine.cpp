#include "WebEngine.h"

#include <algorithm>

namespace halcyra {

const char* webProcessTerminationName(WebProcessTermination termination)
{
    switch (termination) {
    case WebProcessTermination::crashed:
        return "crashed";
    case WebProcessTermination::exceededMemoryLimit:
        return "exceeded its memory limit";
    case WebProcessTermination::terminatedByApplication:
        return "was ended by the application";
    }
    return "ended";
}

const char* navigationTypeName(NavigationType type)
{
    switch (type) {
    case NavigationType::linkActivated:
        return "linkActivated";
    case NavigationType::formSubmitted:
        return "formSubmitted";
    case NavigationType::backForward:
        return "backForward";
    case NavigationType::reload:
        return "reload";
    case NavigationType::formResubmitted:
        return "formResubmitted";
    case NavigationType::other:
        break;
    }
    return "other";
}

std::optional<std::string> NavigationResponse::header(const std::string& lowercaseName) const
{
    auto found = headers.find(lowercaseName);
    if (found == headers.end())
        return std::nullopt;
    return found->second;
}

CallbackAwaiter<ScriptReply> evaluate(WebView& view, std::string script)
{
    // The view is kept alive until the engine answers.
    return awaitCallback<ScriptReply>([view = view.shared_from_this(), script = std::move(script)](std::function<void(ScriptReply)> done) {
        view->evaluateJavaScript(script, std::move(done));
    });
}

CallbackAwaiter<ScriptReply> callAsync(WebView& view, std::string functionBody, nlohmann::json arguments)
{
    return awaitCallback<ScriptReply>([view = view.shared_from_this(), body = std::move(functionBody), arguments = std::move(arguments)](std::function<void(ScriptReply)> done) {
        view->callAsyncJavaScript(body, arguments, std::move(done));
    });
}

}

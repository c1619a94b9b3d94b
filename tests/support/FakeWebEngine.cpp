#include "FakeWebEngine.h"

#include <stdexcept>

namespace halcyra {

FakeWebView::FakeWebView(WebViewConfiguration configuration)
    : m_configuration(std::move(configuration))
{
}

NavigationID FakeWebView::load(const URL& url)
{
    m_loadedURLs.push_back(url);
    m_isLoading = true;
    return m_nextNavigationID++;
}

NavigationID FakeWebView::reload()
{
    m_isLoading = true;
    return m_nextNavigationID++;
}

void FakeWebView::runScript(PendingScript script)
{
    m_scriptLog.push_back(script.source);
    if (scriptResponder) {
        if (auto result = scriptResponder(script)) {
            script.completion(std::move(*result));
            return;
        }
    }
    m_pendingScripts.push_back(std::move(script));
}

void FakeWebView::answerScript(ScriptReply result)
{
    if (m_pendingScripts.empty())
        throw std::logic_error("no script is waiting for a result");
    auto script = std::move(m_pendingScripts.front());
    m_pendingScripts.pop_front();
    script.completion(std::move(result));
}

NavigationID FakeWebView::startNavigation()
{
    auto navigation = m_nextNavigationID++;
    m_isLoading = true;
    if (m_client)
        m_client->didStartProvisionalNavigation(*this, navigation);
    return navigation;
}

void FakeWebView::commit(NavigationID navigation, const URL& url)
{
    changeURL(url);
    if (m_client)
        m_client->didCommitNavigation(*this, navigation);
}

void FakeWebView::finish(NavigationID navigation)
{
    m_isLoading = false;
    if (m_client)
        m_client->didFinishNavigation(*this, navigation);
}

void FakeWebView::fail(NavigationID navigation, WebError error)
{
    m_isLoading = false;
    if (m_client)
        m_client->didFailNavigation(*this, navigation, error);
}

void FakeWebView::failProvisional(NavigationID navigation, WebError error)
{
    m_isLoading = false;
    if (m_client)
        m_client->didFailProvisionalNavigation(*this, navigation, error);
}

void FakeWebView::changeURL(const std::optional<URL>& url)
{
    if (m_url == url)
        return;
    auto old = std::exchange(m_url, url);
    notifyURLChanged(old, m_url);
}

std::optional<ScriptReply> FakeWebView::sendScriptMessage(const std::string& name, nlohmann::json body, SecurityOrigin origin)
{
    if (!m_client)
        return std::nullopt;
    // A client that answers later writes into the shared slot; the test sees only prompt replies.
    auto reply = std::make_shared<std::optional<ScriptReply>>();
    m_client->didReceiveScriptMessage({ name, std::move(body), weak_from_this(), std::move(origin) }, [reply, weakView = weak_from_this()](ScriptReply answer) {
        if (auto view = std::static_pointer_cast<FakeWebView>(weakView.lock()); view && view->onScriptReply)
            view->onScriptReply(answer);
        *reply = std::move(answer);
    });
    return *reply;
}

std::shared_ptr<WebView> FakeWebEngine::makeWebView(const WebViewConfiguration& configuration)
{
    auto view = std::make_shared<FakeWebView>(configuration);
    m_views.push_back(view);
    return view;
}

void FakeWebView::setTitle(const std::string& title)
{
    m_title = title;
    notifyTitleChanged(title);
}

}

#include "PollWebView.h"

#include "CountScripts.h"
#include "PollSession.h"
#include "base/WhenAll.h"
#include "session/WebEngine.h"

#include <vector>

namespace halcyra {

PollWebView::PollWebView(RunLoop& loop, WebEngine& engine, const Endpoints& endpoints, PollSession& session)
    : m_engine(engine)
    , m_endpoints(endpoints)
    , m_session(session)
    , m_tracker(loop, endpoints, session, m_uiHandler)
{
}

PollWebView::~PollWebView()
{
    discard();
}

void PollWebView::discard()
{
    for (auto* view : { m_homeView.get(), m_expensesView.get(), m_reportsView.get() }) {
        if (view)
            view->setClient(nullptr);
    }
    m_homeView = m_expensesView = m_reportsView = nullptr;
    m_isCreated = false;
}

void PollWebView::createIfNeeded()
{
    if (m_isCreated)
        return;
    m_isCreated = true;

    auto pinned = [&](const char* path) { return "https://" + m_endpoints.tenantHost + path; };
    m_homePinnedURL = pinned(homePath);
    m_expensesPinnedURL = pinned(expensesPath);
    m_reportsPinnedURL = pinned(reportsPath);

    m_homeView = makeHiddenWebView(*m_homePinnedURL, VisibilityOverride::no);
    m_expensesView = makeHiddenWebView(*m_expensesPinnedURL, VisibilityOverride::no);
    // Only the report grid needs to believe it is on screen: it renders rows only then.
    m_reportsView = makeHiddenWebView(*m_reportsPinnedURL, VisibilityOverride::yes);
}

std::shared_ptr<WebView> PollWebView::makeHiddenWebView(const std::string& url, VisibilityOverride visibilityOverride)
{
    WebViewConfiguration configuration;
    configuration.width = width;
    configuration.height = height;
    configuration.userAgent = Endpoints::userAgent;
    if (visibilityOverride == VisibilityOverride::yes)
        configuration.userScripts.emplace_back(visibilityOverrideScript());
    configuration.relatedView = m_session.mainWebView();
    configuration.isNeverShown = true;

    auto view = m_engine.makeWebView(configuration);
    view->setClient(&m_tracker);
    view->hostOffScreen();
    // The first load is not waited for.
    if (auto parsed = URL::parse(url))
        view->load(*parsed);
    return view;
}

Task<PollWebView::ReloadedPages> PollWebView::reloadAll()
{
    ReloadedPages reloaded;
    std::vector<Task<void>> reloads;
    reloads.push_back(reload(m_homeView, m_homePinnedURL, reloaded.home));
    reloads.push_back(reload(m_expensesView, m_expensesPinnedURL, reloaded.expenses));
    reloads.push_back(reload(m_reportsView, m_reportsPinnedURL, reloaded.reports));
    co_await whenAll(std::move(reloads));
    co_return reloaded;
}

Task<void> PollWebView::reload(std::shared_ptr<WebView> view, std::optional<std::string> pinnedURL, bool& hasCommitted)
{
    auto url = pinnedURL ? URL::parse(*pinnedURL) : std::nullopt;
    if (!view || !url)
        co_return;
    // A new navigation each time, so every refresh reads a freshly loaded document.
    hasCommitted = co_await m_tracker.load(*url, view);
}

}

#include "WorkdayPoller.h"

#include "PollSession.h"
#include "PollWebView.h"
#include "base/Localization.h"
#include "base/SettingsStore.h"
#include "base/WhenAll.h"
#include "session/WebEngine.h"

#include <vector>

namespace halcyra {

WorkdayPoller::WorkdayPoller(RunLoop& loop, SettingsStore& settings, const Endpoints& endpoints, PollSession& session, PollWebView& pollWebView)
    : m_loop(loop)
    , m_endpoints(endpoints)
    , m_session(session)
    , m_pollWebView(pollWebView)
    , m_readers(loop, endpoints.tenantHost)
    , m_tasks(loop)
{
    auto learnedOr = [&](const char* key, const char* defaultPath) {
        return settings.string(key).value_or("https://" + endpoints.tenantHost + defaultPath);
    };
    m_reading.taskURL = learnedOr(learnedTaskURLKey, "/ashgrove/d/task/2998$44084.htmld");
    m_reading.notificationURL = learnedOr(learnedNotificationURLKey, "/ashgrove/d/unifiedinbox/initialinbox/2998$23221.htmld");
    m_reading.prepaidURL = learnedOr(learnedPrepaidURLKey, "/ashgrove/d/task/2997$1705.htmld");
    m_reading.reportsURL = learnedOr(learnedReportsURLKey, "/ashgrove/d/task/2997$728.htmld");
    m_reading.statusText = statusText();
    m_reading.isBusy = isBusy();
    m_handedOut = m_reading;
}

WorkdayPoller::~WorkdayPoller()
{
    // Cycles still running end without touching anything.
    stop();
    m_tasks.cancelAll();
}

void WorkdayPoller::attach(std::shared_ptr<WebView> webView)
{
    m_webView = std::move(webView);
    m_isAttached = true;
    start();
}

void WorkdayPoller::start()
{
    stop();
    scheduleTimer();
    m_tasks.spawn(refresh());
}

void WorkdayPoller::stop()
{
    ++m_refreshGeneration;
    if (auto timer = std::exchange(m_timer, std::nullopt))
        m_loop.cancel(*timer);
}

void WorkdayPoller::scheduleTimer()
{
    m_timer = m_loop.schedule(defaultInterval, [this] {
        scheduleTimer();
        m_tasks.spawn(refresh());
    });
}

void WorkdayPoller::setTaskURL(const std::string& url)
{
    m_reading.taskURL = url;
    readingChanged();
}

void WorkdayPoller::setNotificationURL(const std::string& url)
{
    m_reading.notificationURL = url;
    readingChanged();
}

// Also when the state stays: the status text follows whether the sign-in withholds the password.
void WorkdayPoller::setState(PollState state)
{
    m_reading.state = std::move(state);
    readingChanged();
}

void WorkdayPoller::readingChanged()
{
    m_reading.statusText = statusText();
    m_reading.isBusy = isBusy();
    if (m_reading == m_handedOut || std::exchange(m_isHandOutScheduled, true))
        return;
    m_loop.dispatch([this, lifetime = std::weak_ptr<bool>(m_lifetime)] {
        if (lifetime.lock())
            handOutReading();
    });
}

void WorkdayPoller::handOutReading()
{
    m_isHandOutScheduled = false;
    if (m_reading == m_handedOut)
        return;
    m_handedOut = m_reading;
    // A copy: an observer may change the reading again.
    auto reading = m_handedOut;
    m_readingChanged.notify(reading);
}

std::optional<URL> WorkdayPoller::mainURL() const
{
    return m_webView ? m_webView->url() : std::nullopt;
}

bool WorkdayPoller::hasRecentRecovery() const
{
    auto lastAttempt = m_session.lastRecoveryAttempt();
    return m_session.isRecoveryInProgress() && lastAttempt && m_loop.now() - *lastAttempt < recentRecoveryWindow;
}

bool WorkdayPoller::isSignInBlocked(const std::optional<URL>& url) const
{
    if (!m_session.isPasswordWithheld()) {
        // The automatic sign-in will pass the page by itself, or may once the keychain answers.
        if (m_session.hasSavedCredentials().value_or(true) || hasRecentRecovery())
            return false;
    }
    if (url && url->host() && m_endpoints.isSignInHost(*url->host()))
        return true;
    return m_endpoints.isSignedOutURL(url);
}

Task<void> WorkdayPoller::refresh()
{
    if (!m_isAttached) {
        setState(PollState::idle());
        co_return;
    }
    if (isSignInBlocked(mainURL())) {
        setState(PollState::notSignedIn());
        co_return;
    }
    auto generation = m_refreshGeneration;
    auto sequence = ++m_refreshSequence;

    auto reloaded = co_await m_pollWebView.reloadAll();

    // The prepaid and draft reads run beside the home read, interleaving at their waits. A page
    // that did not load anew is not read: it still shows the counts of an earlier cycle, and
    // read again they would pass for new (offline, "Updated just now" on every cycle).
    bool isPrepaidRead = false;
    bool isDraftRead = false;
    HomeCountsResult home;
    std::vector<Task<void>> reads;
    if (auto view = m_pollWebView.expensesView(); view && reloaded.expenses)
        reads.push_back(refreshReportCount(m_readers.readPrepaidCount(view), m_reading.prepaid, m_prepaidSequence, sequence, generation, isPrepaidRead));
    if (auto view = m_pollWebView.reportsView(); view && reloaded.reports)
        reads.push_back(refreshReportCount(m_readers.readDraftCount(view), m_reading.draft, m_draftSequence, sequence, generation, isDraftRead));
    if (!m_pollWebView.homeView() || reloaded.home)
        reads.push_back(refreshHome(sequence, generation, home));
    co_await whenAll(std::move(reads));

    // Started before the last restart: nothing of it counts, the state included.
    if (generation != m_refreshGeneration)
        co_return;

    if (home.noView || (!home.task && !home.notification)) {
        if (hasRecentRecovery()) {
            setState(PollState::signingIn());
            co_return;
        }
        auto url = mainURL();
        if ((url && url->host() && m_endpoints.isSignInHost(*url->host())) || m_endpoints.isSignedOutURL(url)) {
            // Until the keychain answers, a saved password may yet sign in.
            bool mayBeSaved = !m_session.isPasswordWithheld() && !m_session.hasSavedCredentials();
            setState(mayBeSaved ? PollState::signingIn() : PollState::notSignedIn());
            co_return;
        }
    }
    setState(PollState::polling());

    // Complete: handed out at once, so that the counts sync and the new-task notification get
    // exactly the counts of this reading.
    if (!home.noView && home.task && home.notification && isPrepaidRead && isDraftRead) {
        m_reading.lastUpdated = m_loop.wallNow();
        m_reading.origin = CountsReading::Origin::thisMachine;
        readingChanged();
        handOutReading();
    }
}

Task<void> WorkdayPoller::refreshHome(long long sequence, long long generation, HomeCountsResult& result)
{
    // Until the hidden views exist the main view's header is read.
    auto view = m_pollWebView.homeView() ? m_pollWebView.homeView() : m_webView;
    if (!view) {
        result.noView = true;
        co_return;
    }
    result = interpretHomeCounts(co_await m_readers.readHomeCounts(view));
    if (generation == m_refreshGeneration && (result.task || result.notification) && m_homeSequence < sequence) {
        m_homeSequence = sequence;
        if (result.task)
            m_reading.task = result.task;
        if (result.notification)
            m_reading.notification = result.notification;
        readingChanged();
    }
}

Task<void> WorkdayPoller::refreshReportCount(Task<std::optional<std::int64_t>> reading, Count& count, long long& storedSequence, long long sequence, long long generation, bool& isRead)
{
    auto value = co_await std::move(reading);
    if (value && generation == m_refreshGeneration && storedSequence < sequence) {
        storedSequence = sequence;
        count = value;
        readingChanged();
    }
    // Read, even when too old to keep.
    isRead = value.has_value();
}

// Marked for translation here, translated where they are shown (the logic stays free of the
// user's language).
std::string WorkdayPoller::statusText() const
{
    switch (m_reading.state.kind) {
    case PollState::Kind::idle:
    case PollState::Kind::polling:
        return N_("Connecting…");
    case PollState::Kind::notSignedIn:
        return m_session.isPasswordWithheld() ? N_("Password needed") : N_("Not signed in");
    case PollState::Kind::signingIn:
        return N_("Signing in…");
    case PollState::Kind::failed:
        return m_reading.state.message;
    }
    return {};
}

bool WorkdayPoller::isBusy() const
{
    switch (m_reading.state.kind) {
    case PollState::Kind::signingIn:
        return true;
    case PollState::Kind::idle:
    case PollState::Kind::polling:
        return !m_reading.hasAllCounts();
    case PollState::Kind::notSignedIn:
    case PollState::Kind::failed:
        return false;
    }
    return false;
}

void WorkdayPoller::applySynced(const CountsReading& synced)
{
    if (!synced.lastUpdated || !synced.hasAllCounts() || (m_reading.lastUpdated && *m_reading.lastUpdated >= *synced.lastUpdated))
        return;
    m_reading.task = synced.task;
    m_reading.notification = synced.notification;
    m_reading.prepaid = synced.prepaid;
    m_reading.draft = synced.draft;
    m_reading.lastUpdated = synced.lastUpdated;
    m_reading.origin = CountsReading::Origin::anotherMachine;
    readingChanged();
    handOutReading();
}

}

#include "WorkdayPoller.h"

#include "CountsPublisher.h"
#include "PollSession.h"
#include "PollWebView.h"
#include "badge/BadgeSettings.h"
#include "badge/BadgeSink.h"
#include "base/Localization.h"
#include "base/SettingsStore.h"
#include "base/WhenAll.h"
#include "session/WebEngine.h"
#include "session/WorkdayWebCoordinator.h"
#include "sync/SyncedCounts.h"

#include <limits>
#include <vector>

namespace halcyra {

namespace {

    std::int64_t saturatingSum(std::int64_t total, std::int64_t count)
    {
        std::int64_t sum = 0;
        if (!__builtin_add_overflow(total, count, &sum))
            return sum;
        return count > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }

}

WorkdayPoller::WorkdayPoller(RunLoop& loop, SettingsStore& settings, const Endpoints& endpoints, PollSession& session, PollWebView& pollWebView, BadgeSettings& badgeSettings, BadgeSink& badgeSink, CountsPublisher& publisher)
    : m_loop(loop)
    , m_endpoints(endpoints)
    , m_session(session)
    , m_pollWebView(pollWebView)
    , m_badgeSettings(badgeSettings)
    , m_badgeSink(badgeSink)
    , m_publisher(publisher)
    , m_readers(loop, endpoints.tenantHost)
    , m_tasks(loop)
{
    auto learnedOr = [&](const char* key, const char* defaultPath) {
        return settings.string(key).value_or("https://" + endpoints.tenantHost + defaultPath);
    };
    m_taskURL = learnedOr(WorkdayWebCoordinator::learnedTaskURLKey, "/ashgrove/d/task/2998$44084.htmld");
    m_notificationURL = learnedOr(WorkdayWebCoordinator::learnedNotificationURLKey, "/ashgrove/d/unifiedinbox/initialinbox/2998$23221.htmld");
    m_prepaidURL = learnedOr(learnedPrepaidURLKey, "/ashgrove/d/task/2997$1705.htmld");
    m_reportsURL = learnedOr(learnedReportsURLKey, "/ashgrove/d/task/2997$728.htmld");

    // Told before a switch changes: the badge is recomputed on the next turn of the loop, once
    // the new value is in place.
    m_badgeSettingsCancellable = badgeSettings.observeWillChange([this, lifetime = std::weak_ptr<bool>(m_lifetime)] {
        m_loop.dispatch([this, lifetime] {
            if (lifetime.lock())
                updateDockBadge();
        });
    });
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
    m_timer = m_loop.schedule(m_interval, [this] {
        scheduleTimer();
        m_tasks.spawn(refresh());
    });
}

void WorkdayPoller::setTaskURL(const std::string& url)
{
    publish(m_taskURL, std::optional(url));
}

void WorkdayPoller::setNotificationURL(const std::string& url)
{
    publish(m_notificationURL, std::optional(url));
}

void WorkdayPoller::setState(PollState state)
{
    publish(m_state, std::move(state));
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

    co_await m_pollWebView.reloadAll();

    // The prepaid and draft reads run beside the home read, interleaving at their waits.
    bool isPrepaidRead = false;
    bool isDraftRead = false;
    HomeCountsResult home;
    std::vector<Task<void>> reads;
    if (auto view = m_pollWebView.expensesView())
        reads.push_back(refreshReportCount(m_readers.readPrepaidCount(view), m_prepaidCount, m_prepaidSequence, sequence, generation, isPrepaidRead));
    if (auto view = m_pollWebView.reportsView())
        reads.push_back(refreshReportCount(m_readers.readDraftCount(view), m_draftCount, m_draftSequence, sequence, generation, isDraftRead));
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

    if (!home.noView && home.task && home.notification && isPrepaidRead && isDraftRead) {
        auto now = m_loop.wallNow();
        publish(m_lastUpdated, std::optional(now));
        if (m_outstandingCount && m_notificationCount && m_prepaidCount && m_draftCount)
            m_publisher.publish({ *m_outstandingCount, *m_notificationCount, *m_prepaidCount, *m_draftCount, now });
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
            publish(m_outstandingCount, result.task);
        if (result.notification)
            publish(m_notificationCount, result.notification);
        updateDockBadge();
    }
}

Task<void> WorkdayPoller::refreshReportCount(Task<std::optional<std::int64_t>> reading, Count& count, long long& storedSequence, long long sequence, long long generation, bool& isRead)
{
    auto value = co_await std::move(reading);
    if (value && generation == m_refreshGeneration && storedSequence < sequence) {
        storedSequence = sequence;
        publish(count, Count(value));
        updateDockBadge();
    }
    // Read, even when too old to keep.
    isRead = value.has_value();
}

std::int64_t WorkdayPoller::badgeTotal() const
{
    std::int64_t total = 0;
    auto add = [&](bool isIncluded, const Count& count) {
        if (isIncluded && count)
            total = saturatingSum(total, *count);
    };
    add(m_badgeSettings.includeTask(), m_outstandingCount);
    add(m_badgeSettings.includeNotification(), m_notificationCount);
    add(m_badgeSettings.includePrepaid(), m_prepaidCount);
    add(m_badgeSettings.includeDraft(), m_draftCount);
    return total;
}

void WorkdayPoller::updateDockBadge()
{
    auto total = badgeTotal();
    m_badgeSink.setBadgeCount(total >= 1 ? std::optional(total) : std::nullopt);
}

// Marked for translation here, translated where they are shown (the logic stays free of the
// user's language).
std::string WorkdayPoller::statusText() const
{
    switch (m_state.kind) {
    case PollState::Kind::idle:
    case PollState::Kind::polling:
        return N_("Connecting…");
    case PollState::Kind::notSignedIn:
        return m_session.isPasswordWithheld() ? N_("Password needed") : N_("Not signed in");
    case PollState::Kind::signingIn:
        return N_("Signing in…");
    case PollState::Kind::failed:
        return m_state.message;
    }
    return {};
}

bool WorkdayPoller::isBusy() const
{
    switch (m_state.kind) {
    case PollState::Kind::signingIn:
        return true;
    case PollState::Kind::idle:
    case PollState::Kind::polling:
        return !m_outstandingCount || !m_notificationCount || !m_prepaidCount || !m_draftCount;
    case PollState::Kind::notSignedIn:
    case PollState::Kind::failed:
        return false;
    }
    return false;
}

void WorkdayPoller::applySynced(const SyncedCounts& record)
{
    if (m_lastUpdated && *m_lastUpdated >= record.observedAt)
        return;
    publish(m_outstandingCount, Count(record.task));
    publish(m_notificationCount, Count(record.notification));
    publish(m_prepaidCount, Count(record.prepaid));
    publish(m_draftCount, Count(record.draft));
    publish(m_lastUpdated, std::optional(record.observedAt));
    updateDockBadge();
}

}

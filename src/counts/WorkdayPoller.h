#pragma once

#include "CountReaders.h"
#include "base/RunLoop.h"
#include "base/Signal.h"
#include "base/TaskGroup.h"
#include "session/CountsPoller.h"
#include "session/Endpoints.h"

#include <memory>
#include <optional>
#include <string>

namespace halcyra {

class BadgeSettings;
class BadgeSink;
class CountsPublisher;
class PollSession;
class PollWebView;
class SettingsStore;
struct SyncedCounts;

// The model behind the four counts. Once the main web view is attached it refreshes every
// 30 seconds: reloads the hidden pages, reads the counts, keeps every count that was read,
// decides the polling state, stamps the time of the last complete reading, keeps the launcher
// badge current and hands each complete reading to the counts sync. Cycles may overlap; a
// per-kind sequence number keeps an older cycle from overwriting a newer value, and the
// generation drops the results of cycles started before the last restart. Observers are told
// before each change of a published field.
class WorkdayPoller final : public CountsPoller {
public:
    static constexpr Seconds defaultInterval { 30 };
    // A recovery started this recently is still taken to be signing in.
    static constexpr Seconds recentRecoveryWindow { 60 };
    static constexpr const char* learnedPrepaidURLKey = "learnedPrepaidURL";
    static constexpr const char* learnedReportsURLKey = "learnedReportsURL";

    WorkdayPoller(RunLoop&, SettingsStore&, const Endpoints&, PollSession&, PollWebView&, BadgeSettings&, BadgeSink&, CountsPublisher&);
    ~WorkdayPoller() override;

    WorkdayPoller(const WorkdayPoller&) = delete;
    WorkdayPoller& operator=(const WorkdayPoller&) = delete;

    // Published fields.
    const Count& outstandingCount() const { return m_outstandingCount; }
    const Count& notificationCount() const { return m_notificationCount; }
    const Count& prepaidCount() const { return m_prepaidCount; }
    const Count& draftCount() const { return m_draftCount; }
    const std::optional<std::string>& taskURL() const { return m_taskURL; }
    const std::optional<std::string>& notificationURL() const { return m_notificationURL; }
    const std::optional<std::string>& prepaidURL() const { return m_prepaidURL; }
    const std::optional<std::string>& reportsURL() const { return m_reportsURL; }
    const PollState& state() const { return m_state; }
    const std::optional<WallTime>& lastUpdated() const { return m_lastUpdated; }
    [[nodiscard]] Connection observeWillChange(std::function<void()> observer) { return m_willChange.connect(std::move(observer)); }

    const std::shared_ptr<WebView>& webView() const { return m_webView; }
    bool hasTimer() const { return m_timer.has_value(); }
    long long refreshGeneration() const { return m_refreshGeneration; }
    bool isAttached() const { return m_isAttached; }
    Seconds interval() const { return m_interval; }
    long long refreshSequence() const { return m_refreshSequence; }
    long long homeSequence() const { return m_homeSequence; }
    long long prepaidSequence() const { return m_prepaidSequence; }
    long long draftSequence() const { return m_draftSequence; }
    // Script evaluations of all cycles so far.
    long long evaluationCount() const { return m_readers.evaluationCount(); }

    // CountsPoller
    void attach(std::shared_ptr<WebView>) override;
    void setTaskURL(const std::string&) override;
    void setNotificationURL(const std::string&) override;
    void setState(PollState) override;
    bool isSignInBlocked(const std::optional<URL>&) const override;
    Task<void> refresh() override;

    void start();
    void stop();

    // The chosen counts added up; an absent count adds nothing.
    std::int64_t badgeTotal() const;
    void updateDockBadge();
    // The window subtitle when it does not show the age of the last update.
    std::string statusText() const;
    bool isBusy() const;
    // Adopts a reading from another machine when it is newer than the last complete one here.
    void applySynced(const SyncedCounts&);

private:
    Task<void> refreshHome(long long sequence, long long generation, HomeCountsResult&);
    // The prepaid or draft count from its hidden view, kept unless a later cycle stored one.
    Task<void> refreshReportCount(Task<std::optional<std::int64_t>> reading, Count&, long long& storedSequence, long long sequence, long long generation, bool& isRead);
    bool hasRecentRecovery() const;
    std::optional<URL> mainURL() const;
    void scheduleTimer();

    template <typename T>
    void publish(T& field, T value)
    {
        if (field == value)
            return;
        m_willChange.notify();
        field = std::move(value);
    }

    RunLoop& m_loop;
    const Endpoints& m_endpoints;
    PollSession& m_session;
    PollWebView& m_pollWebView;
    BadgeSettings& m_badgeSettings;
    BadgeSink& m_badgeSink;
    CountsPublisher& m_publisher;
    CountReaders m_readers;
    Signal<> m_willChange;

    Count m_outstandingCount;
    Count m_notificationCount;
    Count m_prepaidCount;
    Count m_draftCount;
    std::optional<std::string> m_taskURL;
    std::optional<std::string> m_notificationURL;
    std::optional<std::string> m_prepaidURL;
    std::optional<std::string> m_reportsURL;
    PollState m_state { PollState::idle() };
    std::optional<WallTime> m_lastUpdated;
    std::shared_ptr<WebView> m_webView;
    std::optional<RunLoop::TimerID> m_timer;
    long long m_refreshGeneration { 0 };
    bool m_isAttached { false };
    Seconds m_interval { defaultInterval };
    Connection m_badgeSettingsCancellable;
    long long m_refreshSequence { 0 };
    long long m_homeSequence { 0 };
    long long m_prepaidSequence { 0 };
    long long m_draftSequence { 0 };
    // Lets a deferred badge update tell whether the poller still exists.
    std::shared_ptr<bool> m_lifetime { std::make_shared<bool>(true) };

    // Declared last: the cycles use every field above until they end.
    TaskGroup m_tasks;
};

}

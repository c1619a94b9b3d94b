#pragma once

#include "CountReaders.h"
#include "CountsReading.h"
#include "base/RunLoop.h"
#include "base/Signal.h"
#include "base/TaskGroup.h"
#include "session/CountsPoller.h"
#include "session/Endpoints.h"

#include <memory>
#include <optional>
#include <string>

namespace halcyra {

class PollSession;
class PollWebView;
class SettingsStore;

// The model behind the four counts. Once the main web view is attached it refreshes every
// 30 seconds: reloads the hidden pages, reads the counts, keeps every count that was read,
// decides the polling state and stamps the time of the last complete reading. Cycles may
// overlap; a per-kind sequence number keeps an older cycle from overwriting a newer value, and
// the generation drops the results of cycles started before the last restart. Each change of
// the reading is handed to the observers as a value: the changes of one turn of the loop
// together on the next turn, a newly complete reading at once.
class WorkdayPoller final : public CountsPoller {
public:
    static constexpr Seconds defaultInterval { 30 };
    // A recovery started this recently is still taken to be signing in.
    static constexpr Seconds recentRecoveryWindow { 60 };
    static constexpr const char* learnedPrepaidURLKey = "learnedPrepaidURL";
    static constexpr const char* learnedReportsURLKey = "learnedReportsURL";

    WorkdayPoller(RunLoop&, SettingsStore&, const Endpoints&, PollSession&, PollWebView&);
    ~WorkdayPoller() override;

    WorkdayPoller(const WorkdayPoller&) = delete;
    WorkdayPoller& operator=(const WorkdayPoller&) = delete;

    // The reading as it stands, for an observer that starts late.
    const CountsReading& reading() const { return m_reading; }
    [[nodiscard]] Connection observeReading(std::function<void(const CountsReading&)> observer) { return m_readingChanged.connect(std::move(observer)); }
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

    // Adopts the counts of a complete reading from another machine when it was made later than
    // the last complete one here; it is handed out like any other.
    void applySynced(const CountsReading&);

private:
    Task<void> refreshHome(long long sequence, long long generation, HomeCountsResult&);
    // The prepaid or draft count from its hidden view, kept unless a later cycle stored one.
    Task<void> refreshReportCount(Task<std::optional<std::int64_t>> reading, Count&, long long& storedSequence, long long sequence, long long generation, bool& isRead);
    bool hasRecentRecovery() const;
    std::optional<URL> mainURL() const;
    void scheduleTimer();
    std::string statusText() const;
    bool isBusy() const;
    // Called after each change of m_reading.
    void readingChanged();
    void handOutReading();

    RunLoop& m_loop;
    const Endpoints& m_endpoints;
    PollSession& m_session;
    PollWebView& m_pollWebView;
    CountReaders m_readers;
    Signal<const CountsReading&> m_readingChanged;

    CountsReading m_reading;
    CountsReading m_handedOut;
    bool m_isHandOutScheduled { false };
    std::shared_ptr<WebView> m_webView;
    std::optional<RunLoop::TimerID> m_timer;
    long long m_refreshGeneration { 0 };
    bool m_isAttached { false };
    long long m_refreshSequence { 0 };
    long long m_homeSequence { 0 };
    long long m_prepaidSequence { 0 };
    long long m_draftSequence { 0 };
    // Lets a deferred hand-out tell whether the poller still exists.
    std::shared_ptr<bool> m_lifetime { std::make_shared<bool>(true) };

    // Declared last: the cycles use every field above until they end.
    TaskGroup m_tasks;
};

}

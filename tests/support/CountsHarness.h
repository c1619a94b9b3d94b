#pragma once

#include "support/DemoEndpoints.h"
#include "support/FakeWebEngine.h"
#include "support/VirtualRunLoop.h"

#include "base/SettingsStore.h"
#include "base/TaskGroup.h"
#include "counts/PollSession.h"
#include "counts/PollWebView.h"
#include "counts/WorkdayPoller.h"

#include <memory>
#include <vector>

namespace halcyra {

// The session as a test sets it up by hand.
class FakePollSession final : public PollSession {
public:
    std::shared_ptr<WebView> mainWebView() const override { return mainView; }
    bool isRecoveryInProgress() const override { return recoveryInProgress; }
    std::optional<MonotonicTime> lastRecoveryAttempt() const override { return recoveryAttempt; }
    bool isPasswordWithheld() const override { return passwordWithheld; }
    std::optional<bool> hasSavedCredentials() override { return credentialsFrom ? credentialsFrom->hasSavedCredentials() : savedCredentials; }
    void recoverSession(const std::optional<URL>& url) override { recoveredURLs.push_back(url); }

    std::shared_ptr<WebView> mainView;
    bool recoveryInProgress { false };
    std::optional<MonotonicTime> recoveryAttempt;
    bool passwordWithheld { false };
    std::optional<bool> savedCredentials { true };
    // Where the answer about saved credentials comes from instead, when set.
    PollSession* credentialsFrom { nullptr };
    std::vector<std::optional<URL>> recoveredURLs;
};

// A poller over fakes, with the main view made and the hidden views not yet built; every
// reading it hands out is collected.
struct CountsHarness {
    CountsHarness()
        : endpoints(demoEndpoints())
        , pollWebView(loop, engine, endpoints, session)
        , poller(loop, settings, endpoints, session, pollWebView)
        , observation(poller.observeReading([this](const CountsReading& reading) { readings.push_back(reading); }))
    {
        mainView = std::static_pointer_cast<FakeWebView>(engine.makeWebView({}));
        session.mainView = mainView;
    }

    // The hidden views in the order home, expenses, reports.
    FakeWebView& hidden(size_t index) { return static_cast<FakeWebView&>(*std::vector { pollWebView.homeView(), pollWebView.expensesView(), pollWebView.reportsView() }.at(index)); }
    FakeWebView& homeView() { return hidden(0); }
    FakeWebView& expensesView() { return hidden(1); }
    FakeWebView& reportsView() { return hidden(2); }
    const CountsReading& reading() const { return poller.reading(); }
    // The complete readings handed out (a new time of the last update each).
    std::vector<CountsReading> completeReadings() const
    {
        std::vector<CountsReading> complete;
        for (auto& reading : readings) {
            if (reading.lastUpdated && (complete.empty() || complete.back().lastUpdated != reading.lastUpdated))
                complete.push_back(reading);
        }
        return complete;
    }

    // Each hidden view's newest load commits on the page it asked for, as a reload that went well;
    // then the cycle goes on to its reads.
    void commitReloads()
    {
        for (size_t index = 0; index < 3; ++index) {
            auto& view = hidden(index);
            view.commit(view.newestNavigation(), view.loadedURLs().back());
        }
        loop.runUntilIdle();
    }

    // Answers the newest script waiting in a view.
    static void answerNewest(FakeWebView& view, nlohmann::json value)
    {
        auto script = std::move(view.pendingScripts().back());
        view.pendingScripts().pop_back();
        script.completion(ScriptReply::success(std::move(value)));
    }

    // A responder answering every script with `value`.
    static auto answering(nlohmann::json value)
    {
        return [value](const FakeWebView::PendingScript&) -> std::optional<ScriptReply> { return ScriptReply::success(value); };
    }

    static nlohmann::json home(nlohmann::json task, nlohmann::json notification) { return { { "pageLoading", false }, { "task", task }, { "notification", notification } }; }
    static nlohmann::json prepaid(const std::string& count) { return { { "loaded", true }, { "prepaid", count } }; }
    static nlohmann::json draft(const std::string& count) { return { { "gridPresent", true }, { "erRows", 1 }, { "draft", count } }; }

    VirtualRunLoop loop;
    MemorySettingsStore settings;
    Endpoints endpoints;
    FakeWebEngine engine;
    FakePollSession session;
    PollWebView pollWebView;
    WorkdayPoller poller;
    std::vector<CountsReading> readings;
    Connection observation;
    std::shared_ptr<FakeWebView> mainView;
    // Cycles a test starts beside the poller's own; they end with the harness.
    TaskGroup cycles { loop };
};

}

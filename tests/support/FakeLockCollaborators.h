#pragma once

#include "base/RunLoop.h"
#include "lock/ActivitySource.h"
#include "lock/Authenticator.h"
#include "lock/GateView.h"
#include "lock/ScreenEvents.h"

#include <memory>
#include <vector>

namespace halcyra {

class FakeAuthenticator final : public Authenticator {
public:
    struct Prompt {
        AuthenticationRequest request;
        std::function<void(bool)> answer;
        bool isInvalidated { false };
    };

    explicit FakeAuthenticator(RunLoop& loop)
        : m_loop(loop)
    {
    }

    std::unique_ptr<AuthenticationPrompt> evaluate(const AuthenticationRequest& request, std::function<void(bool)> answer) override
    {
        prompts.push_back(std::make_shared<Prompt>(Prompt { request, std::move(answer) }));
        struct Handle final : AuthenticationPrompt {
            std::shared_ptr<Prompt> prompt;
            void invalidate() override { prompt->isInvalidated = true; }
        };
        auto handle = std::make_unique<Handle>();
        handle->prompt = prompts.back();
        return handle;
    }

    // The user answers the latest prompt; the answer reaches the gate through the loop.
    void answer(bool succeeded)
    {
        m_loop.dispatch([prompt = prompts.back(), succeeded] { prompt->answer(succeeded); });
    }

    std::vector<std::shared_ptr<Prompt>> prompts;

private:
    RunLoop& m_loop;
};

class FakeGateView final : public GateView {
public:
    void setShown(bool shown) override { isShown = shown; }
    void claimFocus() override { hasFocus = true; }
    void giveBackFocus() override { hasFocus = false; }
    bool isApplicationActive() const override { return isActive; }
    void raiseWindow() override { }

    bool isShown { true };
    bool hasFocus { false };
    bool isActive { true };
};

class FakeActivitySource final : public ActivitySource {
public:
    Connection observe(std::function<void(ActivityKind)> observer) override { return m_activity.connect(std::move(observer)); }
    void input(ActivityKind kind) { m_activity.notify(kind); }

private:
    Signal<ActivityKind> m_activity;
};

// The session's idle time as the desktop reports it: time since the last input anywhere.
class FakeSessionIdleTime final : public SessionIdleTime {
public:
    explicit FakeSessionIdleTime(RunLoop& loop)
        : m_loop(loop)
    {
    }
    void query(std::function<void(std::optional<Seconds>)> answer) override
    {
        std::optional<Seconds> idle;
        if (lastInput)
            idle = m_loop.now() - *lastInput;
        m_loop.dispatch([answer = std::move(answer), idle] { answer(idle); });
    }
    std::optional<MonotonicTime> lastInput;

private:
    RunLoop& m_loop;
};

class FakeScreenEvents final : public ScreenEventSource {
public:
    Connection observe(std::function<void(ScreenEvent)> observer) override { return m_events.connect(std::move(observer)); }
    void post(ScreenEvent event) { m_events.notify(event); }

private:
    Signal<ScreenEvent> m_events;
};

}

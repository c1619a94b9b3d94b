#include "support/FakeKeychain.h"
#include "support/FakeLockCollaborators.h"
#include "support/VirtualRunLoop.h"

#include "base/SettingsStore.h"
#include "base/TaskGroup.h"
#include "credentials/KeychainStore.h"
#include "lock/GateController.h"
#include "lock/TouchIDGate.h"

#include <gtest/gtest.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

enum class State { openForSignIn,
    locked,
    authenticating,
    unlocked };
constexpr const char* stateNames[] = { "open for sign-in", "locked", "authenticating", "unlocked" };
const char* name(State state) { return stateNames[static_cast<int>(state)]; }

// The lock as the application builds it: locked at launch, then asking the credential store.
struct GateHarness {
    void launch()
    {
        controller = std::make_unique<GateController>(GateController::Services { loop, activity, sessionIdleTime, screenEvents });
        controller->start();
        tasks.spawn(controller->openForFirstSignInUnlessCredentialsAreSaved(store));
        loop.runUntilIdle();
    }

    void makeWindow()
    {
        gate = std::make_shared<TouchIDGate>(view, authenticator);
        controller->attach(gate);
    }

    void enter(State state)
    {
        if (state != State::openForSignIn)
            keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"demo","password":"pass"})");
        launch();
        makeWindow();
        if (state == State::authenticating || state == State::unlocked)
            controller->toggle();
        if (state == State::unlocked)
            answer(true);
        ASSERT_EQ(currentState(), state);
    }

    std::optional<State> currentState() const
    {
        bool tracking = controller->isTrackingActivity();
        if (gate->isShown() != view.isShown)
            return std::nullopt;
        if (!gate->isShown() && !controller->isLocked() && controller->isOpenForSignIn() && !tracking)
            return State::openForSignIn;
        if (gate->isShown() && controller->isLocked() && !controller->isOpenForSignIn() && !tracking)
            return gate->isAuthenticating() ? State::authenticating : State::locked;
        if (!gate->isShown() && !controller->isLocked() && !controller->isOpenForSignIn() && tracking && loop.pendingTimerCount() == 1)
            return State::unlocked;
        return std::nullopt;
    }

    void answer(bool succeeded)
    {
        authenticator.answer(succeeded);
        loop.runUntilIdle();
    }

    VirtualRunLoop loop;
    FakeKeychain keychain;
    MemorySettingsStore settings;
    KeychainStore store { keychain, settings };
    TaskGroup tasks { loop };
    FakeAuthenticator authenticator { loop };
    FakeGateView view;
    FakeActivitySource activity;
    FakeSessionIdleTime sessionIdleTime { loop };
    FakeScreenEvents screenEvents;
    std::unique_ptr<GateController> controller;
    std::shared_ptr<TouchIDGate> gate;
};

TEST(Gate, everyTransitionOfTheLockReachesItsState)
{
    struct Row {
        State from;
        const char* event;
        std::function<void(GateHarness&)> act;
        State to;
    };
    auto pressWhileActive = [](GateHarness& t) { t.gate->pointerPressed(); };
    auto toggle = [](GateHarness& t) { t.controller->toggle(); };
    auto succeed = [](GateHarness& t) { t.authenticator.answer(true); };
    auto fail = [](GateHarness& t) { t.authenticator.answer(false); };
    auto lock = [](GateHarness& t) { t.gate->lock(); };
    auto idleMinute = [](GateHarness& t) { t.loop.advance(60s); };
    auto sleep = [](GateHarness& t) { t.screenEvents.post(ScreenEvent::screensSlept); };
    auto sessionLocked = [](GateHarness& t) { t.screenEvents.post(ScreenEvent::screenLocked); };
    auto wake = [](GateHarness& t) { t.screenEvents.post(ScreenEvent::screensWoke); };
    auto credentialsSaved = [](GateHarness& t) { t.controller->endSignInOpening(); };
    // Input in the window or anywhere in the session puts the lock off to a minute after it.
    auto inputThen = [](std::function<void(GateHarness&)> input, Seconds wait) {
        return [=](GateHarness& t) {
            t.loop.advance(30s);
            input(t);
            t.loop.advance(wait);
        };
    };
    auto inputHere = [](GateHarness& t) { t.activity.input(ActivityKind::keyPress); };
    auto inputElsewhere = [](GateHarness& t) { t.sessionIdleTime.lastInput = t.loop.now(); };

    const Row rows[] = {
        { State::locked, "click while active", pressWhileActive, State::authenticating },
        { State::locked, "click while another application is active", [](GateHarness& t) { t.view.isActive = false; t.gate->pointerPressed(); }, State::locked },
        { State::locked, "toggle", toggle, State::authenticating },
        { State::locked, "wake", wake, State::locked },
        { State::authenticating, "success", succeed, State::unlocked },
        { State::authenticating, "failure or cancellation", fail, State::locked },
        { State::authenticating, "lock", lock, State::locked },
        { State::unlocked, "session locked", sessionLocked, State::locked },
        { State::unlocked, "toggle", toggle, State::locked },
        { State::unlocked, "click (the gate is hidden)", pressWhileActive, State::unlocked },
        { State::openForSignIn, "credentials saved", credentialsSaved, State::unlocked },
        { State::openForSignIn, "home page reached", [](GateHarness& t) { t.controller->homePageReached(); }, State::locked },
        { State::unlocked, "home page reached", [](GateHarness& t) { t.controller->homePageReached(); }, State::unlocked },
        { State::openForSignIn, "sleep", sleep, State::locked },
        { State::openForSignIn, "a minute without input", idleMinute, State::openForSignIn },
        { State::unlocked, "input in the window, 59.9 s later", inputThen(inputHere, 59.9s), State::unlocked },
        { State::unlocked, "input in the window, 60 s later", inputThen(inputHere, 60s), State::locked },
        { State::unlocked, "input in another application, 59.9 s later", inputThen(inputElsewhere, 59.9s), State::unlocked },
        { State::unlocked, "input in another application, 60 s later", inputThen(inputElsewhere, 60s), State::locked },
    };
    for (auto& row : rows) {
        SCOPED_TRACE(std::string(name(row.from)) + " + " + row.event);
        GateHarness t;
        t.enter(row.from);
        row.act(t);
        t.loop.runUntilIdle();
        auto state = t.currentState();
        ASSERT_TRUE(state) << "no consistent state";
        EXPECT_STREQ(name(*state), name(row.to));
    }
}

// Launch opens the lock for a first sign-in only when the store says for certain that nothing is
// saved, and only while nothing since has unlocked it or reached Workday's home page. The state
// is the controller's, window or not: a window made later shows it.
TEST(Gate, launchOpensForAFirstSignInOnlyOnACertainNothingSaved)
{
    struct Row {
        const char* name;
        std::function<void(GateHarness&)> before;
        std::function<void(GateHarness&)> afterLaunch;
        State expected;
    };
    auto saved = [](GateHarness& t) { t.keychain.setItem(KeychainStore::service, KeychainStore::account, R"({"username":"demo","password":"pass"})"); };
    auto hold = [](GateHarness& t) { t.keychain.isHoldingAnswers = true; };
    auto answer = [](GateHarness& t) {
        t.keychain.isHoldingAnswers = false;
        t.keychain.answerHeld();
    };
    auto nothing = [](GateHarness&) {};
    const Row rows[] = {
        { "nothing saved", nothing, nothing, State::openForSignIn },
        { "forgotten", [&](GateHarness& t) { saved(t); t.settings.setBoolean(KeychainStore::forgottenKey, true); }, nothing, State::openForSignIn },
        { "saved", saved, nothing, State::locked },
        { "keyring error", [](GateHarness& t) { t.keychain.failNext(FakeKeychain::Operation::read, -25293); }, nothing, State::locked },
        { "item that is no pair", [](GateHarness& t) { t.keychain.setItem(KeychainStore::service, KeychainStore::account, "\xff\xfe"); }, nothing, State::locked },
        { "no answer", hold, nothing, State::locked },
        { "nothing saved, answered after the window is made", hold, [&](GateHarness& t) { t.makeWindow(); answer(t); }, State::openForSignIn },
        { "nothing saved, answered after an unlock", hold, [&](GateHarness& t) {
             t.makeWindow();
             t.controller->toggle();
             t.authenticator.answer(true);
             t.loop.runUntilIdle();
             answer(t); }, State::unlocked },
        { "nothing saved, answered after the home page", hold, [&](GateHarness& t) { t.controller->homePageReached(); answer(t); }, State::locked },
        { "home page reached without a window", nothing, [](GateHarness& t) { t.controller->homePageReached(); }, State::locked },
        { "credentials typed, then a minute idle without a window", nothing, [](GateHarness& t) {
             t.controller->endSignInOpening();
             t.loop.advance(60s); }, State::locked },
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        GateHarness t;
        row.before(t);
        t.launch();
        row.afterLaunch(t);
        t.loop.runUntilIdle();
        if (!t.gate)
            t.makeWindow();
        auto state = t.currentState();
        ASSERT_TRUE(state) << "no consistent state";
        EXPECT_STREQ(name(*state), name(row.expected));
    }
}

// Only the open prompt's answer counts, once: a second request while prompting or unlocked is
// ignored, locking withdraws the prompt, and the answer for a gate that is gone is dropped.
TEST(Gate, onlyTheOpenPromptsAnswerCountsAndOnlyOnce)
{
    GateHarness t;
    t.enter(State::locked);
    std::vector<bool> results;
    t.gate->authenticate([&](bool succeeded) { results.push_back(succeeded); });
    t.gate->authenticate(nullptr);
    t.gate->pointerPressed();
    ASSERT_EQ(t.authenticator.prompts.size(), 1u);

    t.gate->lock();
    EXPECT_TRUE(t.authenticator.prompts[0]->isInvalidated);
    t.answer(true);
    EXPECT_EQ(results, std::vector<bool> { false }) << "a withdrawn prompt's late success is a failure";
    EXPECT_EQ(t.currentState(), State::locked);
    EXPECT_TRUE(t.view.hasFocus);

    t.gate->authenticate([&](bool succeeded) { results.push_back(succeeded); });
    ASSERT_EQ(t.authenticator.prompts.size(), 2u);
    t.answer(true);
    EXPECT_EQ(results, (std::vector<bool> { false, true }));
    EXPECT_EQ(t.currentState(), State::unlocked);
    EXPECT_FALSE(t.view.hasFocus);
    t.gate->authenticate(nullptr);
    EXPECT_EQ(t.authenticator.prompts.size(), 2u);

    t.controller->toggle();
    t.gate->authenticate([&](bool succeeded) { results.push_back(succeeded); });
    ASSERT_EQ(t.authenticator.prompts.size(), 3u);
    t.gate.reset();
    EXPECT_TRUE(t.authenticator.prompts[2]->isInvalidated);
    t.answer(true);
    EXPECT_EQ(results.size(), 2u) << "the answer for a gate that is gone reached its caller";
}

}

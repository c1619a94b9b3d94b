#pragma once

#include "base/RunLoop.h"
#include "base/Signal.h"
#include "base/Task.h"
#include "lock/ActivitySource.h"
#include "lock/ScreenEvents.h"
#include "session/LockController.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace halcyra {

class KeychainStore;
class TouchIDGate;

// The application's lock state, whether or not a window exists: locks after a minute without
// input, when the machine goes to sleep or the session is locked, and on demand; keeps Workday
// open while a user without saved credentials signs in for the first time. The main window's
// gate shows this state; a gate attached later starts as the controller is.
class GateController final : public LockController {
public:
    static constexpr Seconds idleTimeout { 60.0 };

    struct Services {
        RunLoop& loop;
        ActivitySource& localActivity;
        SessionIdleTime& sessionIdleTime;
        ScreenEventSource& screenEvents;
    };

    // Starts locked, as at every launch.
    explicit GateController(Services);
    ~GateController() override;
    GateController(const GateController&) = delete;
    GateController& operator=(const GateController&) = delete;

    // Starts following sleep and session-lock events.
    void start();
    void attach(const std::shared_ptr<TouchIDGate>&);
    // The launch's question to the credential store: only a certain "none saved" or "forgotten"
    // opens the lock for a first sign-in. A keychain error, an unreadable item or an answer that
    // never comes keeps it locked.
    Task<void> openForFirstSignInUnlessCredentialsAreSaved(KeychainStore&);
    // Opens the lock for a first sign-in, unless it was unlocked or Workday's home page was
    // reached since launch.
    void openForFirstSignIn();
    void lock();
    // The lock button: ask for authentication while locked, lock otherwise.
    void toggle();

    bool isLocked() const override { return m_isLocked; }
    bool isOpenForSignIn() const override { return m_isOpenForSignIn; }
    void endSignInOpening() override;
    void homePageReached() override;
    LockGate* gate() override;

    bool isTrackingActivity() const { return m_isTrackingActivity; }
    // Observers run before `isLocked` changes.
    [[nodiscard]] Connection observeLockStateWillChange(std::function<void()> observer) { return m_lockStateWillChange.connect(std::move(observer)); }

private:
    void setLocked(bool);
    void unlockReaction();
    void lockReaction();
    void startActivityTracking();
    void stopActivityTracking();
    void restartIdleTimer(Seconds delay = idleTimeout);
    void idleTimerFired();

    Services m_services;
    bool m_isLocked { true };
    bool m_isOpenForSignIn { false };
    // Still as launched: never unlocked, and Workday's home page not yet reached.
    bool m_mayOpenForSignIn { true };
    std::weak_ptr<TouchIDGate> m_gate;
    std::optional<RunLoop::TimerID> m_idleTimer;
    bool m_isTrackingActivity { false };
    // Tells a session idle-time answer from one asked for by an earlier timer.
    std::uint64_t m_idleTimerGeneration { 0 };
    Connection m_localActivity;
    Connection m_screenEvents;
    Signal<> m_lockStateWillChange;
    std::shared_ptr<bool> m_lifetime { std::make_shared<bool>(true) };
};

}

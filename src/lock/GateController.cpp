#include "GateController.h"

#include "TouchIDGate.h"
#include "base/Log.h"
#include "credentials/KeychainStore.h"

namespace halcyra {

GateController::GateController(Services services)
    : m_services(services)
{
}

GateController::~GateController()
{
    stopActivityTracking();
}

void GateController::start()
{
    m_screenEvents = m_services.screenEvents.observe([this](ScreenEvent event) {
        switch (event) {
        case ScreenEvent::screensSlept:
        case ScreenEvent::screenLocked:
            lock();
            break;
        case ScreenEvent::screensWoke:
            // Waking shows the gate as it was; it never unlocks.
            break;
        }
    });
}

void GateController::attach(const std::shared_ptr<TouchIDGate>& gate)
{
    m_gate = gate;
    std::weak_ptr<bool> lifetime = m_lifetime;
    gate->setOnUnlock([this, lifetime] {
        if (lifetime.lock())
            unlockReaction();
    });
    gate->setOnLock([this, lifetime] {
        if (lifetime.lock())
            lockReaction();
    });
    if (m_isLocked)
        gate->lock();
    else
        gate->hideWithoutAuthentication();
}

Task<void> GateController::openForFirstSignInUnlessCredentialsAreSaved(KeychainStore& store)
{
    auto answer = co_await store.lookUp();
    if (answer == SavedCredentials::noneSaved || answer == SavedCredentials::forgotten)
        openForFirstSignIn();
    else if (answer == SavedCredentials::unreadable)
        logError("[App] the keychain did not say whether credentials are saved; Workday stays locked");
}

void GateController::openForFirstSignIn()
{
    if (!std::exchange(m_mayOpenForSignIn, false))
        return;
    m_lockStateWillChange.notify();
    m_isLocked = false;
    m_isOpenForSignIn = true;
    if (auto gate = m_gate.lock())
        gate->hideWithoutAuthentication();
}

void GateController::lock()
{
    if (auto gate = m_gate.lock())
        gate->lock();
    // Without a window, or with its gate already shown, nothing else tells the controller.
    if (!m_isLocked || m_isOpenForSignIn)
        lockReaction();
}

void GateController::homePageReached()
{
    m_mayOpenForSignIn = false;
    if (m_isOpenForSignIn)
        lock();
}

void GateController::toggle()
{
    if (!m_isLocked) {
        lock();
        return;
    }
    if (auto gate = m_gate.lock())
        gate->authenticate(nullptr);
}

LockGate* GateController::gate()
{
    return m_gate.lock().get();
}

void GateController::setLocked(bool isLocked)
{
    if (m_isLocked == isLocked && !(isLocked && m_isOpenForSignIn))
        return;
    m_lockStateWillChange.notify();
    m_isLocked = isLocked;
    if (isLocked)
        m_isOpenForSignIn = false;
}

void GateController::unlockReaction()
{
    m_mayOpenForSignIn = false;
    setLocked(false);
    stopActivityTracking();
    startActivityTracking();
}

void GateController::lockReaction()
{
    logVerbose("[App] locked");
    setLocked(true);
    stopActivityTracking();
}

void GateController::endSignInOpening()
{
    if (!m_isOpenForSignIn)
        return;
    m_lockStateWillChange.notify();
    m_isOpenForSignIn = false;
    stopActivityTracking();
    startActivityTracking();
}

void GateController::startActivityTracking()
{
    m_isTrackingActivity = true;
    m_localActivity = m_services.localActivity.observe([this](ActivityKind) { restartIdleTimer(); });
    restartIdleTimer();
}

void GateController::stopActivityTracking()
{
    m_isTrackingActivity = false;
    if (auto timer = std::exchange(m_idleTimer, std::nullopt))
        m_services.loop.cancel(*timer);
    ++m_idleTimerGeneration;
    m_localActivity.disconnect();
}

void GateController::restartIdleTimer(Seconds delay)
{
    if (auto timer = std::exchange(m_idleTimer, std::nullopt))
        m_services.loop.cancel(*timer);
    ++m_idleTimerGeneration;
    std::weak_ptr<bool> lifetime = m_lifetime;
    m_idleTimer = m_services.loop.schedule(delay, [this, lifetime] {
        if (lifetime.lock()) {
            m_idleTimer = std::nullopt;
            idleTimerFired();
        }
    });
}

// Input in other applications reaches this application only as the session's idle time, so
// before locking the controller asks how long the whole session has been idle. Input elsewhere
// within the last minute moves the deadline to a minute after that input.
void GateController::idleTimerFired()
{
    auto generation = m_idleTimerGeneration;
    std::weak_ptr<bool> lifetime = m_lifetime;
    m_services.sessionIdleTime.query([this, lifetime, generation](std::optional<Seconds> sessionIdleTime) {
        if (!lifetime.lock() || generation != m_idleTimerGeneration || !m_isTrackingActivity)
            return;
        if (sessionIdleTime && *sessionIdleTime < idleTimeout) {
            restartIdleTimer(idleTimeout - *sessionIdleTime);
            return;
        }
        logVerbose("[App] idle for 60 s, locking");
        lock();
    });
}

}

#include "TouchIDGate.h"

#include "GateView.h"
#include "base/Log.h"

namespace halcyra {

TouchIDGate::TouchIDGate(GateView& view, Authenticator& authenticator)
    : m_view(view)
    , m_authenticator(authenticator)
{
}

TouchIDGate::~TouchIDGate()
{
    // Nobody is left to unlock: take the prompt off the screen. Its answer finds no gate and is
    // dropped.
    if (auto context = std::move(m_authenticationContext))
        context->invalidate();
}

void TouchIDGate::authenticate(std::function<void(bool succeeded)> completion)
{
    if (!m_isShown || m_authenticationContext)
        return;

    auto contextID = m_nextContextID++;
    m_authenticationContextID = contextID;
    std::weak_ptr<TouchIDGate> weakThis = weak_from_this();
    m_authenticationContext = m_authenticator.evaluate({ reason, fallbackTitle },
        [weakThis, contextID, completion = std::move(completion)](bool succeeded) {
            auto protectedThis = weakThis.lock();
            if (!protectedThis)
                return;
            protectedThis->answerArrived(contextID, succeeded, completion);
        });
}

void TouchIDGate::answerArrived(std::uint64_t contextID, bool succeeded, const std::function<void(bool)>& completion)
{
    bool isCurrent = m_authenticationContext && m_authenticationContextID == contextID;
    if (isCurrent) {
        m_authenticationContext = nullptr;
        if (succeeded) {
            m_isShown = false;
            m_view.setShown(false);
            m_view.giveBackFocus();
            if (m_onUnlock)
                m_onUnlock();
        }
    } else
        succeeded = false;
    logVerbose(std::string("[App] unlock ") + (succeeded ? "succeeded" : "failed"));
    if (completion)
        completion(succeeded);
}

void TouchIDGate::lock()
{
    if (auto context = std::move(m_authenticationContext))
        context->invalidate();

    bool wasHidden = !m_isShown;
    m_isShown = true;
    m_view.setShown(true);
    m_view.claimFocus();
    if (wasHidden && m_onLock)
        m_onLock();
}

void TouchIDGate::hideWithoutAuthentication()
{
    m_isShown = false;
    m_view.setShown(false);
    m_view.giveBackFocus();
}

void TouchIDGate::pointerPressed()
{
    if (!m_isShown)
        return;
    if (m_view.isApplicationActive())
        authenticate(nullptr);
    else
        m_view.raiseWindow();
}

}

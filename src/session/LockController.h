#pragma once

#include <functional>

namespace halcyra {

// The view laid over the web view while the window is locked.
class LockGate {
public:
    virtual ~LockGate() = default;
    virtual void lock() = 0;
    // Asks the owner to authenticate; the completion receives whether it succeeded.
    virtual void authenticate(std::function<void(bool succeeded)>) = 0;
};

class LockController {
public:
    virtual ~LockController() = default;
    virtual bool isLocked() const = 0;
    // True while the lock stays open so that the user can sign in for the first time.
    virtual bool isOpenForSignIn() const = 0;
    // Closes the first-sign-in opening and starts idle tracking, without locking.
    virtual void endSignInOpening() = 0;
    // The main web view reached the Workday home page, with or without a window: a first sign-in
    // that saved nothing locks, and the lock no longer opens for one.
    virtual void homePageReached() = 0;
    // The gate over the main window's web view; null before the window exists.
    virtual LockGate* gate() = 0;
};

}

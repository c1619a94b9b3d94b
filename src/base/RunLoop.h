#pragma once

#include "Time.h"

#include <cstdint>
#include <functional>

namespace halcyra {

// The main loop that every timer, delayed task and page-script completion runs on. The product
// uses the GLib main loop; unit tests use a loop whose virtual time they advance by hand.
class RunLoop {
public:
    using TimerID = std::uint64_t;

    virtual ~RunLoop() = default;

    virtual MonotonicTime now() const = 0;
    virtual WallTime wallNow() const = 0;

    // Runs `callback` once on the loop after `delay`. Callbacks with equal deadlines run in the
    // order they were scheduled.
    virtual TimerID schedule(Seconds delay, std::function<void()> callback) = 0;

    // Cancelling a timer that has fired or was cancelled already does nothing.
    virtual void cancel(TimerID) = 0;

    void dispatch(std::function<void()> callback) { schedule(Seconds(0), std::move(callback)); }

    // Runs `callback` on the loop soon, never inside the call. The one operation that is safe
    // from any thread: work done elsewhere comes back to the loop through it.
    virtual void post(std::function<void()> callback) = 0;
};

}

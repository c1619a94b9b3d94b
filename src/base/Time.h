#pragma once

#include <chrono>

namespace halcyra {

// Durations are seconds as doubles, as the application's rules state them ("120 s", "0.5 s").
using Seconds = std::chrono::duration<double>;

// Instants for in-memory rate limits and waits: never affected by wall-clock changes.
using MonotonicTime = std::chrono::steady_clock::time_point;

// Instants that are stored or shared between machines (seconds since 1970).
using WallTime = std::chrono::system_clock::time_point;

inline double secondsSince1970(WallTime time)
{
    return std::chrono::duration_cast<Seconds>(time.time_since_epoch()).count();
}

inline WallTime wallTimeFromSecondsSince1970(double seconds)
{
    return WallTime(std::chrono::duration_cast<WallTime::duration>(Seconds(seconds)));
}

}

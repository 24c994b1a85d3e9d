#pragma once

#include <cstdint>
#include <ctime>

// Monotonic time for periods, deadlines and expiries: unlike GetTime()/GetTimeMS() (wall
// clock, for times of day) it never steps when NTP corrects the clock.
inline int64_t GetMonotonicTimeUS() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

inline int64_t GetMonotonicTimeMS() {
    return GetMonotonicTimeUS() / 1000;
}

// The monotonic clock in milliseconds, for spacings and time-outs that a step
// of the wall clock (set by NTP long after boot) must neither stretch nor cut.
#pragma once

#include <time.h>

inline long long monotonic_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

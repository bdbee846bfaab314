// The wall clock as a router without a real-time clock sees it: not set
// until NTP runs, and stepped when it does.
#pragma once

#include "settings.h"

// Before this the wall clock has not been set (2024-01-01 00:00:00 UTC):
// no period can be decided on it.
constexpr long long CLOCK_SET_FLOOR = 1704067200;
// A change of the wall clock against boot time beyond this is a step.
constexpr long long CLOCK_STEP_SECONDS = 60;

enum class ClockStep { None, Forward, Backward };

// Seconds since the epoch, and since boot (a clock no setting moves).
long long wall_seconds();
long long boot_seconds();
inline bool clock_is_set(long long wall)
{
    return wall >= CLOCK_SET_FLOOR;
}
// Compares this cycle's distance of the two clocks with the last one's and
// logs a step once; the first reading is no step.
ClockStep observe_clock(ClockWatch& watch, long long wall, long long boot);

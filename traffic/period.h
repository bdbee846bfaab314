// Period ends (month, week, day) in local time and the period change.
#pragma once

#include <ctime>

#include "settings.h"

// Every end and every "now" here is a 64-bit second count; a time_t that
// could not hold 2038 and beyond would wrap the ends the daemon computes.
static_assert(sizeof(time_t) >= 8, "build with a 64-bit time_t (_TIME_BITS=64 on 32-bit glibc)");

enum class PeriodEnd {
    Computed,   // a new end was computed for a known period
    Unknown,    // the period text names no period: nothing changes
    BadHour,    // a daily period with the start hour -1
};

// Readable period end "Y-M-D h:m:s wN"; at most 127 characters.
constexpr int READABLE_END_SIZE = 128;

// The end of the period that now lies in, by the settings' period, in local
// time: the first start of a period after now.
PeriodEnd next_period_end(const TrafficSettings& settings, long long now, long long* end);
// Formats the local time of end as the rendtime option shows it.
void format_readable_end(char* out, int size, long long end);
// Once per cycle of an enabled instance with a set clock: starts a new
// period when now has passed the end. The bytes counted while the clock was
// not set (state.clock.unplaced) belong to that new period. The options it
// sets are committed by the cycle's commit.
void check_time_up(TrafficState& state, long long now);
// After the wall clock stepped back (or came back from not set): a period
// change that the clock made before the old end is taken back, and an end
// later than the clock's current period can have moves to that period's end.
// far_only: only an end beyond the period after the current one moves (at
// start, where a shorter move could be a changed setting).
void bring_end_back(TrafficState& state, long long now, bool far_only);

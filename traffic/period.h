// Period ends (month, week, day) in local time and the period change.
#pragma once

#include <ctime>

#include "settings.h"

enum class PeriodEnd {
    Computed,   // a new end was computed for a known period
    Unknown,    // the period text names no period: nothing changes
    BadHour,    // a daily period with the start hour -1
};

// Readable period end "Y-M-D h:m:s wN"; at most 127 characters.
constexpr int READABLE_END_SIZE = 128;

// The end of the period that now lies in, by the settings' period, in local time.
PeriodEnd next_period_end(const TrafficSettings& settings, time_t now, time_t* end);
// Formats the local time of end as the rendtime option shows it.
void format_readable_end(char* out, int size, time_t end);
// Once per cycle of an enabled instance: starts a new period when now has passed
// the end; the options it sets are committed by the cycle's commit.
void check_time_up(TrafficState& state, time_t now);

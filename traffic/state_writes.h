// The instance's option writes: a cycle's changes go to uci in one batch,
// committed every cycle or at most every commit_interval seconds.
#pragma once

#include "settings.h"

void write_option_int(TrafficState& state, const char* option, int value);
void write_option_ll(TrafficState& state, const char* option, long long value);
void write_option_str(TrafficState& state, const char* option, const char* text);
// The next flush commits whatever the interval says (period change, reset,
// alarm, shutdown, stop).
void commit_soon(TrafficState& state);
// Runs the waiting writes, with a commit when one is due.
void flush_writes(TrafficState& state);

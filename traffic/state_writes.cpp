#include "state_writes.h"

#include <ctime>

namespace {

// Seconds of a clock that wall-clock changes (NTP at boot) do not move.
long long monotonic_seconds()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec;
}

} // namespace

void write_option_int(TrafficState& state, const char* option, int value)
{
    uci_batch_set_int(state.writes, TRAFFIC_PACKAGE, state.section, option, value);
}

void write_option_ll(TrafficState& state, const char* option, long long value)
{
    uci_batch_set_ll(state.writes, TRAFFIC_PACKAGE, state.section, option, value);
}

void write_option_str(TrafficState& state, const char* option, const char* text)
{
    uci_batch_set_str(state.writes, TRAFFIC_PACKAGE, state.section, option, text);
}

void commit_soon(TrafficState& state)
{
    state.commit_now = true;
}

void flush_writes(TrafficState& state)
{
    long long now = monotonic_seconds();
    int interval = state.settings.commit_interval;
    if (interval <= 0 || state.commit_now || now >= state.next_commit) {
        uci_batch_commit(state.writes, TRAFFIC_PACKAGE);
        state.commit_now = false;
        state.next_commit = now + (interval > 0 ? interval : 0);
    }
    uci_batch_run(state.writes);
}

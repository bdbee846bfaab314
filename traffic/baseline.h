// Where the interface counters stood at the last reading and the used volume
// that includes them, kept in RAM under /tmp, so a restarted daemon adds only
// the bytes since (within one boot).
#pragma once

#include "settings.h"
#include "speed.h"

struct CounterBaseline {
    char ifname[IF_NAME_SIZE];
    long long rx;
    long long tx;
    char boot_id[BOOT_ID_SIZE];
    long long used; // the used volume written with this reading
    int ifindex;    // the interface's index; 0 in a line written before it was kept
};

// The boot id of the running kernel; false (out empty) when it cannot be read.
bool read_boot_id(char* out, int size);
// One line "ifname rx tx boot-id used ifindex"; the index may be missing.
int format_baseline(char* out, int size, const CounterBaseline& baseline);
bool parse_baseline(const char* text, CounterBaseline* out);

// At the first reading of a process: when the baseline was written in this
// boot for this interface (same index) and neither counter has fallen since, the last
// reading becomes the baseline and used the baseline's (saved before uci was
// asked, so a kill while uci runs cannot count a cycle twice or lose it), and
// only the growth since is added. Otherwise
// (a reboot, a new interface, no baseline) the whole counters count, as on a
// first start. True when it resumed.
bool resume_from_baseline(TrafficSettings& settings, const CounterBaseline& baseline, const char* ifname,
                          const char* boot_id, long long tx, long long rx, int ifindex);

// The instance's baseline file: load at the first reading, save every cycle.
bool load_baseline(const TrafficState& state, CounterBaseline* out);
void save_baseline(const TrafficState& state, long long tx, long long rx, int ifindex, long long used);
// A reset by marker: the kept used volume becomes 0, the counters stay.
void reset_baseline_used(const TrafficState& state);

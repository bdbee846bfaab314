// Settings of one traffic limit instance and the process state around them.
#pragma once

#include "options.h"
#include "daily.h"
#include "uci_batch.h"

// Alarm percentages an instance keeps.
constexpr int PERCENT_SLOTS = 12;
// Text sizes of the options held in the record.
constexpr int PERIOD_SIZE = 16;
constexpr int START_HOUR_SIZE = 64;
constexpr int PHONE_SIZE = 512;
constexpr int HOSTNAME_SIZE = 64;
// The percent option as uci prints it: values separated by blanks.
constexpr int PERCENT_TEXT_SIZE = 512;
// Section name of an instance ("traffic" or "traffic2").
constexpr int SECTION_SIZE = 16;
// The kernel's boot id: a UUID of 36 characters.
constexpr int BOOT_ID_SIZE = 40;

// One instance's settings, read once at start from its UCI section.
struct TrafficSettings {
    int enabled;
    char period[PERIOD_SIZE];       // "month", "week" or "day"
    int start_month;                // day of the month a monthly period begins on
    int start_week;                 // weekday a weekly period begins on, 0 = Sunday
    char start_hour[START_HOUR_SIZE]; // its leading number is the hour of a daily period
    char phone[PHONE_SIZE];         // alarm numbers separated by blanks
    long long datamax;              // allowance of the period in MB
    long long percent[PERCENT_SLOTS]; // ascending alarm percentages, then zeros
    long long used;                 // bytes counted in the current period
    long long last_total;           // tx + rx at the last reading
    long long last_tx;
    long long last_rx;
    int last_ifindex;               // interface index at the last reading, 0 before the first
    long long endtime;              // end of the current period, seconds since the epoch
    int debug;
    int debugoutput;
    long long alarmsent;            // highest percentage alarmed in this period
    int turnoff;                    // non-zero: stop the mobile connection at the allowance
    int commit_interval;            // seconds between commits of the package; 0: every cycle
    char hostname[HOSTNAME_SIZE];
};

// A period change, kept so that a clock that caused it and then steps back
// before the old end can take it back.
struct PeriodChange {
    bool valid;
    long long old_end;              // the end that was passed
    long long old_used;             // used of the period that ended there
    long long old_alarmsent;
};

// The wall clock against CLOCK_BOOTTIME, which no clock setting moves.
struct ClockWatch {
    bool known;                     // offset holds the last cycle's reading
    long long offset;               // wall clock minus boot time, in seconds
    bool set;                       // the wall clock was past the sane floor at the last cycle
    long long unplaced;             // bytes counted since the clock was last not set
};

// Everything the process keeps: one record, owned by main.
struct TrafficState {
    TrafficSettings settings;
    int instance;                   // 1 or 2
    char section[SECTION_SIZE];
    int shut_down;                  // 1 once the connection was stopped in this period
    const char* interface;          // the mobile interface whose counters are read
    char boot_id[BOOT_ID_SIZE];             // the kernel's boot id, "" when unknown
    bool counting;                  // the first reading of this process is done
    UciBatch writes;                // option writes waiting for the cycle's uci batch
    bool commit_now;                // a change that must reach the package file at once
    long long next_commit;          // monotonic second from which the interval allows a commit
    ClockWatch clock;
    PeriodChange last_change;       // the last period change of this process
    long long last_reading_at;      // boot-time second of the last reading, 0 before it
    TrafficDaily daily;             // the per-day series of the plot (daily.h)
};

// The UCI package of this daemon.
constexpr const char* TRAFFIC_PACKAGE = "moskar";

// Picks instance and section from the third command-line argument (nullptr: none).
void select_instance(TrafficState& state, const char* instance_arg);
// Largest allowance in MB: twelve digits, 10^18 bytes, far inside 64 bits
// with every percentage threshold; the init script's rule allows the same.
constexpr long long DATAMAX_MAX = 999999999999LL;

extern const OptionTable TRAFFIC_OPTIONS;

// Reads the instance's section (and the host name) into state.settings.
// Returns the number of options refused.
int prepare_config(TrafficState& state);
// Turns the percent option text into the ascending percent list.
void sort_percent(TrafficSettings& settings, const char* text);
// Copies the next blank-separated word of a list option (the percentages, the
// phone numbers) into out, cut to its size, and moves p past it; false at the end.
bool next_word(const char*& p, char* out, int size);

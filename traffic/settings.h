// Settings of one traffic limit instance and the process state around them.
#pragma once

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
    int datamax;                    // allowance of the period in MB
    int percent[PERCENT_SLOTS];     // ascending alarm percentages, then zeros
    long long used;                 // bytes counted in the current period
    long long last_total;           // tx + rx at the last reading
    long long last_tx;
    long long last_rx;
    int endtime;                    // end of the current period, seconds since the epoch
    int debug;
    int debugoutput;
    int alarmsent;                  // highest percentage alarmed in this period
    int turnoff;                    // non-zero: stop the mobile connection at the allowance
    int commit_interval;            // seconds between commits of the package; 0: every cycle
    char hostname[HOSTNAME_SIZE];
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
    TrafficDaily daily;             // the per-day series of the plot (daily.h)
};

// The UCI package of this daemon.
constexpr const char* TRAFFIC_PACKAGE = "moskar";

// Picks instance and section from the third command-line argument (nullptr: none).
void select_instance(TrafficState& state, const char* instance_arg);
// Reads the instance's section (and the host name) into state.settings.
void prepare_config(TrafficState& state);
// Turns the percent option text into the ascending percent list.
void sort_percent(TrafficSettings& settings, const char* text);
// Copies the next blank-separated word of a list option (the percentages, the
// phone numbers) into out, cut to its size, and moves p past it; false at the end.
bool next_word(const char*& p, char* out, int size);

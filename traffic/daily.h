// Megabytes counted per calendar day in the current and the previous period,
// for the web interface's plot. Kept in the section's options daily and
// daily_prev ("20261101 12 0 340": the first day, then one figure per day),
// set in the batch that writes used: they reach flash with used's commits
// and never on their own, and a restart or a reboot carries them on.
#pragma once

#include <ctime>

struct TrafficState;

// Days one series holds: the days of a month and the one a period starts on.
constexpr int DAILY_DAYS_MAX = 32;
// The option text, terminator included. Within a uci batch line (256 bytes)
// with "set moskar.traffic2.daily_prev='...'" around it; when a series of
// large figures would not fit, its oldest days are left out of the text.
constexpr int DAILY_TEXT_SIZE = 208;
// The allowance's megabyte.
constexpr long long DAILY_BYTES_PER_MB = 1000000;

// Plain records, all zero when empty, as the rest of TrafficState.
struct DailySeries {
    int first_day; // YYYYMMDD of the first figure, 0 when empty
    int count;
    int megabytes[DAILY_DAYS_MAX];
};

struct TrafficDaily {
    DailySeries current;
    DailySeries previous;
    long long last_day_bytes;  // exact bytes of the current series' last day
    int period_end;            // the endtime the current series belongs to
    char written_current[DAILY_TEXT_SIZE];  // the texts last put in the batch
    char written_previous[DAILY_TEXT_SIZE];
};

// Reads both options (at start, after the settings).
void daily_load(TrafficState& state);
// Adds one reading's bytes to the day of now (local time) and queues the
// options that changed. A new endtime starts a new series; the old one
// becomes the previous period's.
void daily_count(TrafficState& state, long long bytes, time_t now);
// The option text; a series with no day gives "".
void daily_format(const DailySeries& series, char* out, int size);
// Reads an option's text; a text that does not parse gives an empty series.
void daily_parse(const char* text, DailySeries* series);

#include "period.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alarm.h"
#include "log.h"
#include "state_writes.h"

constexpr char LOG_UNIT[] = "period.cpp";

namespace {

// Midnight (or another hour) of a calendar day. Calendar arithmetic with
// tm_isdst -1 keeps the end on the local wall-clock time across a DST change,
// where adding multiples of 86 400 seconds would land an hour off.
time_t local_time_of(struct tm day, int hour)
{
    day.tm_hour = hour;
    day.tm_min = 0;
    day.tm_sec = 0;
    day.tm_isdst = -1;
    return mktime(&day);
}

struct tm local_tm(long long seconds)
{
    time_t t = seconds;
    struct tm out;
    localtime_r(&t, &out);
    return out;
}

void log_now(long long now)
{
    struct tm t = local_tm(now);
    LOG(LOG_INFO, "Info： check_time_up() now is %d-%02d-%02d %02d:%02d:%02d %d", t.tm_year + 1900, t.tm_mon + 1,
        t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
}

void log_month_end(long long end)
{
    struct tm t = local_tm(end);
    LOG(LOG_INFO, "Info： clear data for period Month end at %d-%02d-%02d %02d:%02d:%02d %d", t.tm_year + 1900,
        t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
}

// The new period's state: end written, alarm and shutdown of the period cleared.
void start_new_period(TrafficState& state)
{
    TrafficSettings& s = state.settings;
    write_option_ll(state, "endtime", s.endtime);
    state.shut_down = 0;
    write_option_int(state, "force_shutdown", 0);
    s.alarmsent = 0;
    write_option_ll(state, "alarmsent", 0);
    LOG(LOG_INFO, "Info： set new endtime and clear used");
    remove_forcecellup();

    struct tm t = local_tm(s.endtime);
    char readable[READABLE_END_SIZE];
    format_readable_end(readable, sizeof readable, s.endtime);
    LOG(LOG_INFO, "Info： check_timeup() %lld, endtime is %d-%d-%d %d:%d:%d %d", s.endtime, t.tm_year + 1900,
        t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
    write_option_str(state, "rendtime", readable);
    commit_soon(state);
}

// An end moved without a period change: the option and its readable form.
void store_end(TrafficState& state)
{
    write_option_ll(state, "endtime", state.settings.endtime);
    char readable[READABLE_END_SIZE];
    format_readable_end(readable, sizeof readable, state.settings.endtime);
    write_option_str(state, "rendtime", readable);
    commit_soon(state);
}

} // namespace

PeriodEnd next_period_end(const TrafficSettings& s, long long now, long long* end)
{
    struct tm today = local_tm(now);
    if (strcmp(s.period, "month") == 0) {
        struct tm t = today;
        if (t.tm_mday >= s.start_month && ++t.tm_mon > 11) {
            t.tm_mon = 0;
            ++t.tm_year;
        }
        // A start day beyond the month's last day is carried into the next month by mktime.
        t.tm_mday = s.start_month;
        *end = local_time_of(t, 0);
        return PeriodEnd::Computed;
    }
    if (strcmp(s.period, "week") == 0) {
        int days = s.start_week - today.tm_wday;
        if (days <= 0)
            days += 7;
        struct tm t = today;
        t.tm_mday += days;
        *end = local_time_of(t, 0);
        return PeriodEnd::Computed;
    }
    if (strcmp(s.period, "day") == 0) {
        int hour = atoi(s.start_hour);
        if (hour == -1)
            return PeriodEnd::BadHour;
        // From the start itself on, the period that began then ends tomorrow:
        // one change per start, however many cycles fall into its first minute.
        long long start = local_time_of(today, hour);
        if (now >= start) {
            struct tm tomorrow = today;
            ++tomorrow.tm_mday;
            start = local_time_of(tomorrow, hour);
        }
        *end = start;
        return PeriodEnd::Computed;
    }
    return PeriodEnd::Unknown;
}

void format_readable_end(char* out, int size, long long end)
{
    struct tm t = local_tm(end);
    snprintf(out, size, "%d-%d-%d %d:%d:%d w%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
             t.tm_sec, t.tm_wday);
}

void check_time_up(TrafficState& state, long long now)
{
    LOG(LOG_DEBUG, "Debug： check_time_up()");
    TrafficSettings& s = state.settings;
    if (now < s.endtime)
        return;
    LOG(LOG_INFO, "Info： check_time_up() %lld,%lld", s.endtime, now);
    log_now(now);

    long long end = 0;
    PeriodChange change = {true, s.endtime, s.used - state.clock.unplaced, s.alarmsent};
    bool changed = false;
    switch (next_period_end(s, now, &end)) {
    case PeriodEnd::BadHour:
        LOG(LOG_ERROR, "Error： invalid traffic limit configration start time %s", s.start_hour);
        return;
    case PeriodEnd::Computed:
        // Bytes counted before the clock was set were counted in the period it landed in.
        s.used = state.clock.unplaced;
        s.endtime = end;
        changed = true;
        if (strcmp(s.period, "month") == 0)
            log_month_end(end);
        else if (strcmp(s.period, "week") == 0)
            LOG(LOG_INFO, "Info： clear data for period Week");
        else
            LOG(LOG_INFO, "Info： clear data for period Day");
        break;
    case PeriodEnd::Unknown:
        break;
    }
    if (changed && change.old_end > 0)
        state.last_change = change;
    if (changed || s.used == 0)
        start_new_period(state);
    if (changed && s.used > 0)
        LOG(LOG_INFO, "Info： %lld bytes counted before the clock was set stay in the new period", s.used);
    LOG(LOG_DEBUG, "Debug： check_time_up() done");
}

void bring_end_back(TrafficState& state, long long now, bool far_only)
{
    TrafficSettings& s = state.settings;
    PeriodChange& change = state.last_change;
    if (!far_only && change.valid && now < change.old_end) {
        // The clock ran ahead when it passed that end: the period goes on.
        s.used += change.old_used;
        s.endtime = change.old_end;
        if (change.old_alarmsent > s.alarmsent) {
            s.alarmsent = change.old_alarmsent;
            write_option_ll(state, "alarmsent", s.alarmsent);
        }
        change.valid = false;
        LOG(LOG_INFO, "Info： clock back before %lld: the period change there is taken back, used %lld", s.endtime,
            s.used);
        store_end(state);
    }
    long long end = 0;
    long long limit = 0;
    if (next_period_end(s, now, &end) != PeriodEnd::Computed)
        return;
    limit = end;
    if (far_only && next_period_end(s, end, &limit) != PeriodEnd::Computed)
        return;
    if (s.endtime <= limit)
        return;
    LOG(LOG_INFO, "Info： period end %lld lies past the clock's period: moved to %lld", s.endtime, end);
    s.endtime = end;
    store_end(state);
}

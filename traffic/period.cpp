#include "period.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alarm.h"
#include "config.h"
#include "log.h"
#include "state_writes.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "period.cpp";

namespace {

// Seconds after the daily start during which the end stays on today's start.
constexpr time_t DAY_START_WINDOW = 59;

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

void log_now(time_t now)
{
    struct tm t;
    localtime_r(&now, &t);
    log_print(LOG_INFO, "[%s %d] Info： check_time_up() now is %d-%02d-%02d %02d:%02d:%02d %d", LOG_UNIT, __LINE__,
              t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
}

void log_month_end(time_t end)
{
    struct tm t;
    localtime_r(&end, &t);
    log_print(LOG_INFO, "[%s %d] Info： clear data for period Month end at %d-%02d-%02d %02d:%02d:%02d %d", LOG_UNIT,
              __LINE__, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
}

// The new period's state: end written, alarm and shutdown of the period cleared.
void start_new_period(TrafficState& state)
{
    TrafficSettings& s = state.settings;
    write_option_int(state, "endtime", s.endtime);
    state.shut_down = 0;
    write_option_int(state, "force_shutdown", 0);
    s.alarmsent = 0;
    write_option_int(state, "alarmsent", 0);
    log_print(LOG_INFO, "[%s %d] Info： set new endtime and clear used", LOG_UNIT, __LINE__);
    remove_forcecellup();

    time_t end = s.endtime;
    struct tm t;
    localtime_r(&end, &t);
    char readable[READABLE_END_SIZE];
    format_readable_end(readable, sizeof readable, end);
    log_print(LOG_INFO, "[%s %d] Info： check_timeup() %d, endtime is %d-%d-%d %d:%d:%d %d", LOG_UNIT, __LINE__,
              s.endtime, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
    write_option_str(state, "rendtime", readable);
    commit_soon(state);
}

} // namespace

PeriodEnd next_period_end(const TrafficSettings& s, time_t now, time_t* end)
{
    struct tm today;
    localtime_r(&now, &today);
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
        time_t start = local_time_of(today, hour);
        if (now >= start + DAY_START_WINDOW) {
            struct tm tomorrow = today;
            ++tomorrow.tm_mday;
            start = local_time_of(tomorrow, hour);
        }
        *end = start;
        return PeriodEnd::Computed;
    }
    return PeriodEnd::Unknown;
}

void format_readable_end(char* out, int size, time_t end)
{
    struct tm t;
    localtime_r(&end, &t);
    snprintf(out, size, "%d-%d-%d %d:%d:%d w%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
             t.tm_sec, t.tm_wday);
}

void check_time_up(TrafficState& state, time_t now)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： check_time_up()", LOG_UNIT, __LINE__);
    TrafficSettings& s = state.settings;
    if (now < s.endtime)
        return;
    log_print(LOG_INFO, "[%s %d] Info： check_time_up() %d,%d", LOG_UNIT, __LINE__, s.endtime, static_cast<int>(now));
    log_now(now);

    time_t end = 0;
    switch (next_period_end(s, now, &end)) {
    case PeriodEnd::BadHour:
        log_print(LOG_ERROR, "[%s %d] Error： invalid traffic limit configration start time %s", LOG_UNIT, __LINE__,
                  s.start_hour);
        return;
    case PeriodEnd::Computed:
        s.used = 0;
        s.endtime = static_cast<int>(end);
        if (strcmp(s.period, "month") == 0)
            log_month_end(end);
        else if (strcmp(s.period, "week") == 0)
            log_print(LOG_INFO, "[%s %d] Info： clear data for period Week", LOG_UNIT, __LINE__);
        else
            log_print(LOG_INFO, "[%s %d] Info： clear data for period Day", LOG_UNIT, __LINE__);
        break;
    case PeriodEnd::Unknown:
        break;
    }
    if (s.used == 0)
        start_new_period(state);
    log_print(LOG_DEBUG, "[%s %d] Debug： check_time_up() done", LOG_UNIT, __LINE__);
}

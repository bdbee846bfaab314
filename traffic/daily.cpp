#include "daily.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings.h"
#include "state_writes.h"
#include "uci_access.h"

namespace {

// "uci get" key of an option of the own section.
constexpr int KEY_SIZE = 64;

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back:
// day arithmetic without the time zone's help.
long days_from_civil(int y, int m, int d)
{
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int civil_from_days(long z)
{
    z += 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    int y = static_cast<int>(yoe + era * 400 + (m <= 2));
    return y * 10000 + m * 100 + d;
}

long day_number(int yyyymmdd)
{
    return days_from_civil(yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100);
}

int local_day(time_t now)
{
    struct tm t;
    localtime_r(&now, &t);
    return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

// Drops the oldest n days.
void drop_oldest(DailySeries& s, int n)
{
    if (n >= s.count) {
        s = DailySeries();
        return;
    }
    memmove(s.megabytes, s.megabytes + n, (s.count - n) * sizeof s.megabytes[0]);
    s.count -= n;
    s.first_day = civil_from_days(day_number(s.first_day) + n);
}

int rounded_mb(long long bytes)
{
    return static_cast<int>((bytes + DAILY_BYTES_PER_MB / 2) / DAILY_BYTES_PER_MB);
}

void read_option(const TrafficState& state, const char* option, char* buf, int size)
{
    char key[KEY_SIZE];
    snprintf(key, sizeof key, "%s.%s.%s", TRAFFIC_PACKAGE, state.section, option);
    get_data_str(key, buf, size);
}

void queue_if_changed(TrafficState& state, const char* option, const DailySeries& s, char* written)
{
    char text[DAILY_TEXT_SIZE];
    daily_format(s, text, sizeof text);
    if (strcmp(text, written) == 0)
        return;
    write_option_str(state, option, text);
    snprintf(written, DAILY_TEXT_SIZE, "%s", text);
}

} // namespace

void daily_format(const DailySeries& s, char* out, int size)
{
    out[0] = '\0';
    // The newest days matter most: leave out old ones until the text fits.
    for (int skip = 0; skip < s.count; ++skip) {
        int first = civil_from_days(day_number(s.first_day) + skip);
        int used = snprintf(out, size, "%d", first);
        for (int i = skip; i < s.count && used < size; ++i)
            used += snprintf(out + used, size - used, " %d", s.megabytes[i]);
        if (used < size)
            return;
    }
    out[0] = '\0';
}

void daily_parse(const char* text, DailySeries* s)
{
    *s = DailySeries();
    char* end = nullptr;
    long first = strtol(text, &end, 10);
    if (end == text || first < 19700101 || first > 99991231)
        return;
    s->first_day = static_cast<int>(first);
    const char* p = end;
    while (*p == ' ' && s->count < DAILY_DAYS_MAX) {
        long mb = strtol(p + 1, &end, 10);
        if (end == p + 1 || mb < 0)
            break;
        s->megabytes[s->count++] = static_cast<int>(mb);
        p = end;
    }
    if (s->count == 0)
        *s = DailySeries();
}

void daily_load(TrafficState& state)
{
    TrafficDaily& d = state.daily;
    char text[DAILY_TEXT_SIZE] = {};
    read_option(state, "daily", text, sizeof text);
    daily_parse(text, &d.current);
    daily_format(d.current, d.written_current, sizeof d.written_current);
    read_option(state, "daily_prev", text, sizeof text);
    daily_parse(text, &d.previous);
    daily_format(d.previous, d.written_previous, sizeof d.written_previous);
    d.last_day_bytes = d.current.count ? d.current.megabytes[d.current.count - 1] * DAILY_BYTES_PER_MB : 0;
    d.period_end = state.settings.endtime;
}

void daily_count(TrafficState& state, long long bytes, time_t now)
{
    TrafficDaily& d = state.daily;
    DailySeries& s = d.current;
    if (state.settings.endtime != d.period_end) {
        if (d.period_end != 0 && s.count > 0)
            d.previous = s;
        s = DailySeries();
        d.last_day_bytes = 0;
        d.period_end = state.settings.endtime;
    }
    int today = local_day(now);
    if (s.count == 0) {
        s.first_day = today;
        s.count = 1;
        s.megabytes[0] = 0;
        d.last_day_bytes = 0;
    }
    // A clock set back counts on the newest day; one set forward starts new days.
    long index = day_number(today) - day_number(s.first_day);
    if (index >= DAILY_DAYS_MAX)
        drop_oldest(s, static_cast<int>(index - DAILY_DAYS_MAX + 1));
    if (s.count == 0) {
        s.first_day = today;
        index = 0;
    } else {
        index = day_number(today) - day_number(s.first_day);
    }
    if (index >= s.count) {
        for (int i = s.count; i <= index; ++i)
            s.megabytes[i] = 0;
        s.count = static_cast<int>(index) + 1;
        d.last_day_bytes = 0;
    }
    d.last_day_bytes += bytes;
    s.megabytes[s.count - 1] = rounded_mb(d.last_day_bytes);
    queue_if_changed(state, "daily", s, d.written_current);
    queue_if_changed(state, "daily_prev", d.previous, d.written_previous);
}

#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "log.h"

// Unit name in the prefix of this file's log lines.
constexpr char LOG_UNIT[] = "settings.cpp";

namespace {

// "uci get" keys of the own section.
constexpr int KEY_SIZE = 64;

void section_key(char* key, const TrafficState& state, const char* option)
{
    snprintf(key, KEY_SIZE, "%s.%s.%s", TRAFFIC_PACKAGE, state.section, option);
}

void read_int(const TrafficState& state, const char* option, int* out)
{
    char key[KEY_SIZE];
    section_key(key, state, option);
    get_data_int(key, out);
}

void read_text(const TrafficState& state, const char* option, char* buf, int size)
{
    char key[KEY_SIZE];
    section_key(key, state, option);
    get_data_str(key, buf, size);
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A volume option's text as uci prints it; longer texts are refused whole.
constexpr int COUNT_TEXT_SIZE = 64;

// The one refusal of a value the instance cannot hold.
void refuse(const TrafficState& state, const char* option, const char* value, long long max)
{
    log_print(LOG_ERROR, "[%s %d] Error： option %s.%s.%s '%s' is not a number from 0 to %lld, not started", LOG_UNIT,
              __LINE__, TRAFFIC_PACKAGE, state.section, option, value, max);
}

bool read_count(const TrafficState& state, const char* option, long long max, long long* out)
{
    char text[COUNT_TEXT_SIZE] = {};
    read_text(state, option, text, sizeof text);
    if (parse_count(text, max, out))
        return true;
    refuse(state, option, text, max);
    return false;
}

} // namespace

bool parse_count(const char* text, long long max, long long* out)
{
    long long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        int digit = *p - '0';
        if (value > (max - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}

bool next_word(const char*& p, char* out, int size)
{
    while (*p && is_blank(*p))
        ++p;
    if (!*p)
        return false;
    const char* start = p;
    while (*p && !is_blank(*p))
        ++p;
    snprintf(out, size, "%.*s", static_cast<int>(p - start), start);
    return true;
}

void select_instance(TrafficState& state, const char* instance_arg)
{
    state.instance = instance_arg && atoi(instance_arg) == 2 ? 2 : 1;
    snprintf(state.section, sizeof state.section, "%s", state.instance == 2 ? "traffic2" : "traffic");
}

bool sort_percent(TrafficSettings& settings, const char* text, char* refused, int refused_size)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： sort_percent %s", LOG_UNIT, __LINE__, text);
    long long slots[PERCENT_SLOTS] = {};
    int accepted = 0;
    const char* p = text;
    char word[PERCENT_TEXT_SIZE];
    while (accepted < PERCENT_SLOTS && next_word(p, word, sizeof word)) {
        log_print(LOG_DEBUG, "[%s %d] Debug： index=%d,str=%s.", LOG_UNIT, __LINE__, accepted, word);
        // Words that are no positive number are skipped; a number too large
        // to hold is refused, not cut to some other percentage.
        errno = 0;
        long long value = strtoll(word, nullptr, 10);
        if (errno == ERANGE) {
            if (refused)
                snprintf(refused, refused_size, "%s", word);
            return false;
        }
        if (value > 0)
            slots[accepted++] = value;
    }
    std::sort(slots, slots + PERCENT_SLOTS);
    memset(settings.percent, 0, sizeof settings.percent);
    int n = 0;
    for (long long value : slots)
        if (value > 0)
            settings.percent[n++] = value;
    log_print(LOG_DEBUG, "[%s %d] Debug： percent content %lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld",
              LOG_UNIT, __LINE__, slots[0], slots[1], slots[2], slots[3], slots[4], slots[5], slots[6], slots[7],
              slots[8], slots[9], slots[10], slots[11]);
    const long long* q = settings.percent;
    log_print(LOG_DEBUG, "[%s %d] Debug： percent %lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld", LOG_UNIT,
              __LINE__, q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7], q[8], q[9], q[10], q[11]);
    return true;
}

bool prepare_config(TrafficState& state)
{
    log_print(LOG_DEBUG, "[%s %d] Debug： prepare_config()", LOG_UNIT, __LINE__);
    TrafficSettings& s = state.settings;
    // The host name survives: a missing option keeps the one read before.
    char hostname[HOSTNAME_SIZE];
    memcpy(hostname, s.hostname, sizeof hostname);
    memset(&s, 0, sizeof s);
    memcpy(s.hostname, hostname, sizeof hostname);

    read_int(state, "debug", &s.debug);
    read_int(state, "debugoutput", &s.debugoutput);
    read_int(state, "enabled", &s.enabled);
    read_text(state, "period", s.period, sizeof s.period);
    read_text(state, "start_hour", s.start_hour, sizeof s.start_hour);
    read_text(state, "phone", s.phone, sizeof s.phone);
    read_int(state, "start_month", &s.start_month);
    read_int(state, "start_week", &s.start_week);
    bool held = read_count(state, "datamax", DATAMAX_MAX, &s.datamax);
    char percent[PERCENT_TEXT_SIZE] = {};
    read_text(state, "percent", percent, sizeof percent);
    char refused[PERCENT_TEXT_SIZE];
    if (held && !sort_percent(s, percent, refused, sizeof refused)) {
        refuse(state, "percent", refused, LLONG_MAX);
        held = false;
    }
    held = held && read_count(state, "used", LLONG_MAX, &s.used);
    char key[KEY_SIZE];
    section_key(key, state, "endtime");
    get_data_ll(key, &s.endtime);
    section_key(key, state, "alarmsent");
    get_data_ll(key, &s.alarmsent);
    read_int(state, "turnoff", &s.turnoff);
    read_int(state, "commit_interval", &s.commit_interval);
    get_data_str("system.@system[0].hostname", s.hostname, sizeof s.hostname);
    s.last_total = 0;
    log_print(LOG_DEBUG, "[%s %d] Debug： prepare_config() done ", LOG_UNIT, __LINE__);
    return held;
}

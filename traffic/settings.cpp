#include "settings.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "options.h"
#include "uci_access.h"

constexpr char LOG_UNIT[] = "settings.cpp";

namespace {

// The allowance in MB: decimal digits up to DATAMAX_MAX, into a long long.
// validate_data's range() reads an int on the router, so the init script's
// rule bounds the digits instead, as this check does.
bool take_allowance(const OptionRow& row, const char* text, void* record)
{
    long long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > (DATAMAX_MAX - (*p - '0')) / 10)
            return false;
        value = value * 10 + (*p - '0');
    }
    return *text && (!record || (*reinterpret_cast<long long*>(static_cast<char*>(record) + row.offset) = value, true));
}

constexpr OptionType ALLOWANCE = {take_allowance, "and(uinteger,maxlength(12))", false};
static_assert(DATAMAX_MAX == 999999999999LL, "the allowance rule allows twelve digits");

// Percentages, kept sorted; words that are no percentage do not count.
bool take_percent(const OptionRow& row, const char* text, void* record)
{
    if (record)
        sort_percent(*static_cast<TrafficSettings*>(record), text);
    return option_numbers_ok(row, text);
}

constexpr OptionType PERCENTAGES = {take_percent, "range(%d,%d)", false};

// The options of the instance's own section.
constexpr OptionRow ROWS[] = {
    // Applied only above 0.
    {"", "debug", &OPTION_INTEGER, OnBad::Ignore, OPTION_FIELD(TrafficSettings, debug), 0, 5},
    // 1 standard output, 2 standard error, anything else the log file.
    {"", "debugoutput", &OPTION_INTEGER, OnBad::Ignore, OPTION_FIELD(TrafficSettings, debugoutput), 0, 2},
    // Anything but 1 leaves the limit off.
    {"", "enabled", &OPTION_BOOL, OnBad::Ignore, OPTION_FIELD(TrafficSettings, enabled)},
    // Any other period clears nothing.
    {"", "period", &OPTION_WORD, OnBad::Ignore, OPTION_FIELD(TrafficSettings, period), 0, 0,
     R"(or("month","week","day"))"},
    {"", "start_hour", &OPTION_HOUR, OnBad::Refuse, OPTION_FIELD(TrafficSettings, start_hour), 0, 23},
    {"", "phone", &OPTION_TEXT, OnBad::Refuse, OPTION_FIELD(TrafficSettings, phone)},
    {"", "start_month", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(TrafficSettings, start_month), 1, 31},
    {"", "start_week", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(TrafficSettings, start_week), 0, 6},
    {"", "datamax", &ALLOWANCE, OnBad::Refuse, OPTION_FIELD(TrafficSettings, datamax)},
    // A percentage that cannot be held is refused, never cut to another one.
    {"", "percent", &PERCENTAGES, OnBad::Refuse, 0, PERCENT_TEXT_SIZE, 1, OPTION_COUNT_MAX},
    // The count of the period: one that cannot be held is refused rather
    // than started afresh, which would forget what was used.
    {"", "used", &OPTION_BYTES, OnBad::Refuse, OPTION_FIELD(TrafficSettings, used)},
    // The daemon's own period state: a value it cannot have written starts afresh.
    {"", "endtime", &OPTION_BYTES, OnBad::Ignore, OPTION_FIELD(TrafficSettings, endtime)},
    {"", "alarmsent", &OPTION_BYTES, OnBad::Ignore, OPTION_FIELD(TrafficSettings, alarmsent)},
    {"", "turnoff", &OPTION_BOOL, OnBad::Refuse, OPTION_FIELD(TrafficSettings, turnoff)},
    {"", "commit_interval", &OPTION_INTEGER, OnBad::Refuse, OPTION_FIELD(TrafficSettings, commit_interval),
     0, OPTION_COUNT_MAX},
};

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

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

void sort_percent(TrafficSettings& settings, const char* text)
{
    LOG(LOG_DEBUG, "Debug： sort_percent %s", text);
    int slots[PERCENT_SLOTS] = {};
    int accepted = 0;
    const char* p = text;
    char word[PERCENT_TEXT_SIZE];
    while (accepted < PERCENT_SLOTS && next_word(p, word, sizeof word)) {
        LOG(LOG_DEBUG, "Debug： index=%d,str=%s.", accepted, word);
        int value;
        if (option_number(word, 1, OPTION_COUNT_MAX, &value))
            slots[accepted++] = value;
    }
    std::sort(slots, slots + PERCENT_SLOTS);
    memset(settings.percent, 0, sizeof settings.percent);
    int n = 0;
    for (int value : slots)
        if (value > 0)
            settings.percent[n++] = value;
    LOG(LOG_DEBUG, "Debug： percent content %d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d", slots[0], slots[1], slots[2], slots[3],
        slots[4], slots[5], slots[6], slots[7], slots[8], slots[9], slots[10], slots[11]);
    const long long* q = settings.percent;
    LOG(LOG_DEBUG, "Debug： percent %lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld", q[0], q[1], q[2], q[3],
        q[4], q[5], q[6], q[7], q[8], q[9], q[10], q[11]);
}

const OptionTable TRAFFIC_OPTIONS = {TRAFFIC_PACKAGE, nullptr, ROWS, sizeof ROWS / sizeof ROWS[0]};

int prepare_config(TrafficState& state)
{
    LOG(LOG_DEBUG, "Debug： prepare_config()");
    TrafficSettings& s = state.settings;
    // The host name survives: a missing option keeps the one read before.
    char hostname[HOSTNAME_SIZE];
    memcpy(hostname, s.hostname, sizeof hostname);
    memset(&s, 0, sizeof s);
    memcpy(s.hostname, hostname, sizeof hostname);

    int refused = load_options(TRAFFIC_OPTIONS, &s, state.section);
    get_data_str("system.@system[0].hostname", s.hostname, sizeof s.hostname);
    s.last_total = 0;
    LOG(LOG_DEBUG, "Debug： prepare_config() done ");
    return refused;
}

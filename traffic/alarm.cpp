#include "alarm.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "files.h"
#include "log.h"
#include "paths.h"
#include "shell.h"
#include "state_writes.h"

constexpr char LOG_UNIT[] = "alarm.cpp";

namespace {

constexpr const char* SPOOL_PATH = "/tmp/sms_tosend";
constexpr long long BYTES_PER_KB = 1000;
constexpr long long BYTES_PER_MB = 1000000;

} // namespace

long long alarm_threshold_kb(long long datamax, long long percent)
{
    long long threshold;
    if (__builtin_mul_overflow(datamax, percent, &threshold) || __builtin_mul_overflow(threshold, 10, &threshold))
        return LLONG_MAX;
    return threshold;
}

int format_alarm_line(char* out, size_t size, const char* number, const char* hostname, long long datamax,
                      long long used)
{
    int n = snprintf(out, size, "%s,%s Traffic Limit Alarm: max data:%lldMB. used:%lldMB\n", number, hostname, datamax,
                     used / BYTES_PER_MB);
    if (n < 0 || size < 2) {
        if (size > 0)
            out[0] = '\0';
        return 0;
    }
    if (static_cast<size_t>(n) < size)
        return n;
    // Cut, but still one whole spool line.
    out[size - 2] = '\n';
    return static_cast<int>(size - 1);
}

void check_alarm(TrafficState& state)
{
    TrafficSettings& s = state.settings;
    long long used_kb = s.used / BYTES_PER_KB;
    bool due = false;
    for (long long p : s.percent) {
        if (p <= 0)
            continue;
        long long threshold = alarm_threshold_kb(s.datamax, p);
        if (used_kb < threshold)
            continue;
        LOG(LOG_DEBUG, "Debug： check_alarm %lld,%lld (KB)", used_kb, threshold);
        if (s.alarmsent < p) {
            s.alarmsent = p;
            write_option_ll(state, "alarmsent", p);
            due = true;
        }
    }
    if (due) {
        commit_soon(state);
        send_alarm(state);
    }
}

void send_alarm(TrafficState& state)
{
    const TrafficSettings& s = state.settings;
    char line[ALARM_LINE_SIZE] = "";
    const char* p = s.phone;
    char number[PHONE_SIZE];
    while (next_word(p, number, sizeof number)) {
        // Written straight to the spool, not through a shell: the numbers and the
        // host name are configuration texts that may hold quotes or "$(".
        int len = format_alarm_line(line, sizeof line, number, s.hostname, s.datamax, s.used);
        append_text_file(SPOOL_PATH, line);
        LOG(LOG_DEBUG, "Debug： send sms (%.*s) to (%s).", len > 0 ? len - 1 : 0, line, number);
    }
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n')
        line[len - 1] = '\0';
    LOG(LOG_INFO, "Info： send sms %s ", line);
}

void check_allowance(TrafficState& state)
{
    const TrafficSettings& s = state.settings;
    LOG(LOG_DEBUG, "Debug： check if should shutdown used=%lld,max=%lld", s.used, s.datamax);
    if (s.used / BYTES_PER_MB >= s.datamax)
        shutdown_mobile(state);
}

void shutdown_mobile(TrafficState& state)
{
    if (state.shut_down == 1 || state.settings.turnoff == 0)
        return;
    write_option_int(state, "force_shutdown", 1);
    commit_soon(state);
    flush_writes(state);
    run_cmd("/etc/init.d/harnd stop");
    LOG(LOG_INFO, "Info： shutdown mobile interface");
    state.shut_down = 1;
}

void remove_forcecellup()
{
    // run_cmd roots only the command's first word; the path is an argument.
    char cmd[ROOTED_PATH_SIZE + 16];
    snprintf(cmd, sizeof cmd, "rm -rf %s", RootedPath("/etc/forcecellup").c_str());
    run_cmd(cmd);
}

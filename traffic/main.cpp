// moskar: counts the bytes of the mobile interface against a period allowance.
// Usage: moskar interface pid-file [instance]
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "alarm.h"
#include "config.h"
#include "log.h"
#include "pidfile.h"
#include "period.h"
#include "settings.h"
#include "speed.h"
#include "uci_check.h"

namespace {

constexpr unsigned CYCLE_SECONDS = 3;
// A speed as the ulspeed and dlspeed options hold it, "%.2f".
constexpr int SPEED_TEXT_SIZE = 32;

TrafficState moskar;

const char* reset_marker(const TrafficState& state)
{
    return state.instance == 2 ? "/tmp/.mk_reset_used2" : "/tmp/.mk_reset_used1";
}

void write_pid_file(const char* path)
{
    if (!pidfile_write(path))
        log_print(LOG_ERROR, "[%s %d] Error： Cannot create PID file: %s.\n", LOG_SRC, __LINE__, path);
}

// An outside party asks for a fresh count by creating the marker.
void reset_by_marker(TrafficState& state)
{
    const char* marker = reset_marker(state);
    if (!path_exists(marker))
        return;
    log_print(LOG_ERROR, "[%s %d] Error： traffic limit reset used", LOG_SRC, __LINE__);
    state.settings.used = 0;
    state.settings.alarmsent = 0;
    set_option_int(TRAFFIC_PACKAGE, state.section, "force_shutdown", 0);
    set_option_int(TRAFFIC_PACKAGE, state.section, "alarmsent", 0);
    set_option_ll(TRAFFIC_PACKAGE, state.section, "used", 0);
    remove_forcecellup();
    remove_file(marker);
}

void account(TrafficState& state, long long tx, long long rx)
{
    TrafficSettings& s = state.settings;
    long long used_before = s.used;
    ReadingResult r = account_reading(s, tx, rx);
    log_print(LOG_INFO, "[%s %d] Info： Traffic Limit %d used:%lld, ifconfig totally used:%lld,this used:%lld", LOG_SRC,
              __LINE__, state.instance, used_before, tx + rx, r.added);
    log_print(LOG_DEBUG, "[%s %d] Debug： ul speed=%f, dl speed = %f", LOG_SRC, __LINE__, r.ul_speed, r.dl_speed);
    char text[SPEED_TEXT_SIZE];
    snprintf(text, sizeof text, "%.2f", r.ul_speed);
    set_option_str(TRAFFIC_PACKAGE, state.section, "ulspeed", text);
    snprintf(text, sizeof text, "%.2f", r.dl_speed);
    set_option_str(TRAFFIC_PACKAGE, state.section, "dlspeed", text);
}

void run_cycle(TrafficState& state)
{
    TrafficSettings& s = state.settings;
    reset_by_marker(state);
    if (s.enabled == 1)
        check_time_up(state, time(nullptr));
    long long tx = 0;
    long long rx = 0;
    if (get_used(state.interface, &tx, &rx) == -1) {
        log_print(LOG_ERROR, "[%s %d] Error： get interface info failed %d", LOG_SRC, __LINE__, state.instance);
        sleep(CYCLE_SECONDS);
        commit_config(TRAFFIC_PACKAGE);
        return;
    }
    account(state, tx, rx);
    if (s.enabled == 1) {
        log_print(LOG_INFO, "[%s %d] Info： set used to %d", LOG_SRC, __LINE__, static_cast<int>(s.used));
        set_option_ll(TRAFFIC_PACKAGE, state.section, "used", s.used);
    } else {
        log_print(LOG_INFO, "[%s %d] Info： not enabled %d", LOG_SRC, __LINE__, static_cast<int>(s.used));
        set_option_ll(TRAFFIC_PACKAGE, state.section, "used", 0);
    }
    commit_config(TRAFFIC_PACKAGE);
    if (s.enabled == 1) {
        check_alarm(state);
        check_allowance(state);
    }
    sleep(CYCLE_SECONDS);
}

} // namespace

int main(int argc, char** argv)
{
    auto arg = [&](int i) { return i < argc ? argv[i] : ""; };
    log_print(LOG_INFO, "[%s %d] Info： starting traffic limit %d,%s,%s,%s,%s", LOG_SRC, __LINE__, argc, arg(0), arg(1),
              arg(2), arg(3));
    log_set_level(LOG_DEBUG);
    if (argc < 2 || !argv[1][0]) {
        log_print(LOG_ERROR, "[%s %d] Error： no interface given", LOG_SRC, __LINE__);
        fprintf(stderr, "usage: moskar interface pid-file [instance]\n");
        return 1;
    }
    moskar.interface = argv[1];
    select_instance(moskar, argc >= 4 ? argv[3] : nullptr);
    prepare_config(moskar);
    if (moskar.settings.debug > 0)
        log_set_level(moskar.settings.debug);
    log_set_output(moskar.settings.debugoutput);
    log_set_file("/var/log/mk.log");
    char refusal[UCI_REFUSAL_SIZE];
    if (uci_package_refused(TRAFFIC_PACKAGE, refusal, sizeof refusal))
        log_print(LOG_ERROR, "[%s %d] Error： cannot read UCI package %s, its options read as 0: %s", LOG_SRC, __LINE__,
                  TRAFFIC_PACKAGE, refusal);
    if (moskar.settings.enabled == 0)
        log_print(LOG_WARNING, "[%s %d] Warning： traffic limitation functionality is not enabled", LOG_SRC, __LINE__);
    if (argc >= 3 && argv[2][0])
        write_pid_file(argv[2]);
    for (;;)
        run_cycle(moskar);
}

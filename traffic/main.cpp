// moskar: counts the bytes of the mobile interface against a period allowance.
// Usage: moskar interface pid-file [instance]
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "alarm.h"
#include "baseline.h"
#include "clock_watch.h"
#include "daily.h"
#include "files.h"
#include "log.h"
#include "period.h"
#include "pidfile.h"
#include "settings.h"
#include "speed.h"
#include "state_writes.h"
#include "status.h"
#include "uci_check.h"

constexpr char LOG_UNIT[] = "main.cpp";

namespace {

constexpr unsigned CYCLE_SECONDS = 3;
// A speed as the ulspeed and dlspeed options hold it, "%.2f".
constexpr int SPEED_TEXT_SIZE = 32;

TrafficState moskar;
// Set by SIGTERM or SIGINT: the loop ends after the cycle and commits.
volatile sig_atomic_t stop_requested = 0;

void request_stop(int)
{
    stop_requested = 1;
}

void handle_stop_signals()
{
    struct sigaction action = {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the signal cuts the cycle's sleep short.
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

const char* reset_marker(const TrafficState& state)
{
    return state.instance == 2 ? "/tmp/.mk_reset_used2" : "/tmp/.mk_reset_used1";
}

// An outside party asks for a fresh count by creating the marker.
void reset_by_marker(TrafficState& state)
{
    const char* marker = reset_marker(state);
    if (!path_exists(marker))
        return;
    LOG(LOG_ERROR, "Error： traffic limit reset used");
    state.settings.used = 0;
    state.settings.alarmsent = 0;
    // A fresh count: nothing before it is to be placed or taken back.
    state.clock.unplaced = 0;
    state.last_change.valid = false;
    write_option_int(state, "force_shutdown", 0);
    write_option_ll(state, "alarmsent", 0);
    write_option_ll(state, "used", 0);
    // Committed before the marker goes: a kill in between must not lose the reset.
    commit_soon(state);
    flush_writes(state);
    reset_baseline_used(state);
    remove_forcecellup();
    remove_file(marker);
}

// The first reading of a process carries on from the baseline of this boot.
void start_counting(TrafficState& state, long long tx, long long rx, int ifindex)
{
    if (state.counting)
        return;
    state.counting = true;
    CounterBaseline baseline;
    if (load_baseline(state, &baseline))
        resume_from_baseline(state.settings, baseline, state.interface, state.boot_id, tx, rx, ifindex);
}

ReadingResult account(TrafficState& state, long long tx, long long rx, int ifindex)
{
    TrafficSettings& s = state.settings;
    start_counting(state, tx, rx, ifindex);
    long long used_before = s.used;
    // A 32-bit counter wraps within what the link can carry since the last reading.
    long long now = boot_seconds();
    long long elapsed = now - state.last_reading_at;
    state.last_reading_at = now;
    ReadingResult r = account_reading(s, tx, rx, ifindex, (elapsed > 0 ? elapsed : 1) * LINK_BYTES_PER_SECOND_MAX);
    if (!state.clock.set)
        state.clock.unplaced += r.added;
    LOG(LOG_INFO, "Info： Traffic Limit %d used:%lld, ifconfig totally used:%lld,this used:%lld", state.instance,
        used_before, tx + rx, r.added);
    LOG(LOG_DEBUG, "Debug： ul speed=%f, dl speed = %f", r.ul_speed, r.dl_speed);
    char text[SPEED_TEXT_SIZE];
    snprintf(text, sizeof text, "%.2f", r.ul_speed);
    write_option_str(state, "ulspeed", text);
    snprintf(text, sizeof text, "%.2f", r.dl_speed);
    write_option_str(state, "dlspeed", text);
    return r;
}

// The period decisions of a cycle, on a wall clock that may not be set yet
// or may just have stepped.
void check_period(TrafficState& state)
{
    ClockWatch& clock = state.clock;
    long long wall = wall_seconds();
    bool first = !clock.known;
    ClockStep step = observe_clock(clock, wall, boot_seconds());
    if (state.settings.enabled != 1)
        return;
    if (!clock_is_set(wall)) {
        if (first || clock.set)
            LOG(LOG_WARNING, "Warning： clock not set (%lld): bytes are counted, periods wait for it", wall);
        clock.set = false;
        return;
    }
    if (!clock.set)
        bring_end_back(state, wall, true);
    else if (step == ClockStep::Backward)
        bring_end_back(state, wall, false);
    check_time_up(state, wall);
    clock.set = true;
    clock.unplaced = 0;
}

void run_cycle(TrafficState& state)
{
    TrafficSettings& s = state.settings;
    reset_by_marker(state);
    check_period(state);
    long long tx = 0;
    long long rx = 0;
    int ifindex = 0;
    if (get_used(state.interface, &tx, &rx, &ifindex) == -1) {
        LOG(LOG_ERROR, "Error： get interface info failed %d", state.instance);
        sleep(CYCLE_SECONDS);
        flush_writes(state);
        return;
    }
    ReadingResult reading = account(state, tx, rx, ifindex);
    long long written = s.enabled == 1 ? s.used : 0;
    if (s.enabled == 1)
        LOG(LOG_INFO, "Info： set used to %lld", s.used);
    else
        LOG(LOG_INFO, "Info： not enabled %lld", s.used);
    write_option_ll(state, "used", written);
    // A clock not yet set has no day to put the bytes in.
    if (s.enabled == 1 && state.clock.set)
        daily_count(state, reading.added, time(nullptr));
    // Before uci is asked: the baseline carries the volume that goes with
    // these counters whether or not a kill stops uci half-way.
    save_baseline(state, tx, rx, ifindex, written);
    flush_writes(state);
    if (s.enabled == 1) {
        check_alarm(state);
        check_allowance(state);
        // An alarm's percentage, committed at once.
        if (!uci_batch_empty(state.writes))
            flush_writes(state);
    }
    traffic_status_publish(state, reading);
    if (!stop_requested)
        sleep(CYCLE_SECONDS);
}

// The last values reach the package file before the process ends.
void stop(TrafficState& state)
{
    commit_soon(state);
    flush_writes(state);
    LOG(LOG_INFO, "Info： traffic limit stopped, state committed");
}

} // namespace

int main(int argc, char** argv)
{
    auto arg = [&](int i) { return i < argc ? argv[i] : ""; };
    // Before the first line, so that no line of this daemon lands in the shared default log.
    log_set_file("/var/log/mk.log");
    LOG(LOG_INFO, "Info： starting traffic limit %d,%s,%s,%s,%s", argc, arg(0), arg(1), arg(2), arg(3));
    log_set_level(LOG_DEBUG);
    if (argc < 2 || !argv[1][0]) {
        LOG(LOG_ERROR, "Error： no interface given");
        fprintf(stderr, "usage: moskar interface pid-file [instance]\n");
        return 1;
    }
    moskar.interface = argv[1];
    select_instance(moskar, argc >= 4 ? argv[3] : nullptr);
    // A volume it cannot hold would alarm or cut the link for nothing.
    if (prepare_config(moskar) > 0)
        return EXIT_BAD_OPTION;
    daily_load(moskar);
    if (moskar.settings.debug > 0)
        log_set_level(moskar.settings.debug);
    log_set_output(moskar.settings.debugoutput);
    char refusal[UCI_REFUSAL_SIZE];
    if (uci_package_refused(TRAFFIC_PACKAGE, refusal, sizeof refusal))
        LOG(LOG_ERROR, "Error： cannot read UCI package %s, its options read as 0: %s", TRAFFIC_PACKAGE, refusal);
    if (moskar.settings.enabled == 0)
        LOG(LOG_WARNING, "Warning： traffic limitation functionality is not enabled");
    if (argc >= 3 && argv[2][0] && !pidfile_write(argv[2]))
        LOG(LOG_ERROR, "Error： Cannot create PID file: %s.\n", argv[2]);
    read_boot_id(moskar.boot_id, sizeof moskar.boot_id);
    handle_stop_signals();
    while (!stop_requested)
        run_cycle(moskar);
    stop(moskar);
    return 0;
}

// Every option of brenlow, moskar, quorral and dastral set to -1, 2^31, 10^20
// and 10 KB of text, one at a time, on an otherwise valid and armed router:
// each start with a value the daemon's table calls bad ends in a refusal that
// names the option and its value or runs on with a Warning naming it; none
// crashes, spins, or raises an alarm, cuts the link or reboots. One daemon's cases run at once.
// HOSTILE_BIN_DIR runs other builds of the daemons, to measure them.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bridge_config.h"
#include "gps_config.h"
#include "pty_pair.h"
#include "sandbox.h"
#include "settings.h"
#include "sms_config.h"

namespace {

using Section = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;

std::string ten_kb_text()
{
    std::string text;
    while (text.size() < 10240)
        text += "%n%s'\"`$(reboot)`;|&\\ ";
    return text.substr(0, 10240);
}

const std::vector<std::string> HOSTILE = {"-1", "2147483648", "100000000000000000000", ten_kb_text()};

// Each daemon's options, valid and armed: a bad value read as the old
// loaders read it would alarm (failedthres), cut the link (datamax) or give
// up at once (interval).
struct Daemon {
    const char* name;
    const OptionTable* table;
    std::vector<Section> package;
    const char* log;
    int window_ms;
};

std::vector<Daemon> daemons()
{
    // SMS work off: the modem hears nothing but what an alarm would send.
    std::vector<std::pair<std::string, std::string>> command = {{"enabled", "0"}, {"smsack", "1"}, {"fixplus", "0"}};
    for (const char* keyword : command_option_names)
        command.push_back({keyword, keyword});
    return {
        {"brenlow", &SMS_OPTIONS,
         {{"general", {{"debug", "3"}, {"alarmenabled", "1"}, {"unicode", "1"}}},
          {"command", command},
          {"rssi", {{"rssialarm", "1"}, {"sigthres", "10"}, {"failedthres", "1"}, {"normalthres", "3"}}}},
         "/tmp/modemlog.log", 27000}, // the first signal poll comes 20 to 25 s in
        {"moskar", &TRAFFIC_OPTIONS,
         {{"traffic",
           {{"enabled", "1"}, {"period", "month"}, {"start_month", "1"}, {"start_week", "1"}, {"start_hour", "0"},
            {"phone", "13800000000"}, {"datamax", "1000000000"}, {"percent", "50 80 100"}, {"turnoff", "1"},
            {"debug", "3"}, {"debugoutput", "0"}, {"commit_interval", "0"}, {"used", "0"}, {"endtime", "0"},
            {"alarmsent", "0"}}}},
         "/var/log/mk.log", 8000},
        {"quorral", &GPS_OPTIONS,
         {{"general",
           {{"enabled", "1"}, {"proto", "1"}, {"serverip", "127.0.0.1"}, {"serverport", "9"}, {"sendsn", "0"},
            {"onlyrmc", "0"}, {"interval", "1"}, {"baudrate", "115200"}, {"parity", "N"}, {"databits", "8"},
            {"stopbits", "1"}, {"debug", "3"}}}},
         "/tmp/gps.log", 5000},
        {"dastral", &BRIDGE_OPTIONS,
         {{"general",
           {{"enabled", "1"}, {"baudrate", "115200"}, {"parity", "N"}, {"databits", "8"}, {"stopbits", "1"},
            {"debug", "3"}, {"output", "0"}}}},
         "/tmp/myLog1.log", 3000},
    };
}

std::string package_text(const std::vector<Section>& sections, const std::string& section, const std::string& option,
                         const std::string& value)
{
    auto line = [](const std::string& name, const std::string& v) {
        std::string quoted;
        for (char c : v)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return "\toption " + name + " '" + quoted + "'\n";
    };
    std::string text;
    for (const Section& s : sections) {
        text += "config " + s.first + " '" + s.first + "'\n";
        bool set = false;
        for (const auto& o : s.second) {
            bool hostile = s.first == section && o.first == option;
            set = set || hostile;
            text += line(o.first, hostile ? value : o.second);
        }
        // An option the armed package leaves unset is tried all the same.
        if (s.first == section && !set)
            text += line(option, value);
    }
    return text;
}

enum Outcome { REFUSED, IGNORED, RAN_ON, EXITED_UNNAMED, CRASHED, SPUN, HARMFUL, OUTCOMES };
const char* const OUTCOME_NAMES[OUTCOMES] = {"refused by name", "fallback (named)", "ran on",
                                             "exited unnamed",  "crashed",          "spun",
                                             "harmful action"};

struct CaseRun {
    std::unique_ptr<Sandbox> box = std::make_unique<Sandbox>();
    std::unique_ptr<PtyPair> port = std::make_unique<PtyPair>(); // the modem, the GPS, the radio module
    std::unique_ptr<PtyPair> board;
    std::string key, value;
    bool bad = false; // by the daemon's table, which the init scripts' rules match
    pid_t pid = -1;
    int status = -1;
};

std::string bin(const std::string& name)
{
    const char* dir = getenv("HOSTILE_BIN_DIR");
    return dir ? std::string(dir) + "/" + name : bin_path(name);
}

bool has_netns()
{
    return system("unshare -rn true 2>/dev/null") == 0;
}

void start(const Daemon& d, CaseRun& r)
{
    Sandbox& box = *r.box;
    std::string pidfile = box.path("/var/run/" + std::string(d.name) + ".pid");
    std::string name = d.name;
    if (name == "brenlow") {
        box.uci_package("mobile", "config dev_info 'dev_info1'\n\toption strength '20'\n");
        box.write("/var/run/phonenum", "1,1,13800000000\n");
        r.pid = box.start(bin(name), {r.port->slave_path, pidfile, "0", "1", "0"});
    } else if (name == "moskar") {
        box.uci_package("system", "config system\n\toption hostname 'Router'\n");
        r.pid = box.start(bin(name), {"lo", pidfile, "1"});
    } else if (name == "quorral") {
        // A server name or address goes nowhere from an empty network namespace.
        r.pid = box.start("/usr/bin/unshare", {"-rn", bin(name), r.port->slave_path, pidfile});
    } else {
        r.board = std::make_unique<PtyPair>();
        r.pid = box.start(bin(name), {r.port->slave_path, pidfile, r.board->slave_path});
    }
}

double cpu_seconds(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", pid);
    std::string stat = command_output(std::string("cat ") + path + " 2>/dev/null");
    size_t at = stat.rfind(')');
    unsigned long utime = 0, stime = 0;
    if (at == std::string::npos || sscanf(stat.c_str() + at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                                          &utime, &stime) != 2)
        return 0;
    return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

Outcome judge(const Daemon& d, CaseRun& r, bool running, double cpu)
{
    Sandbox& box = *r.box;
    std::string said = box.read(d.log) + box.stderr_of(d.name) + box.stderr_of("unshare");
    std::string named = "option " + r.key + " '" + r.value.substr(0, 20);
    std::string calls = box.calls();
    // An SMS begins with AT commands to the modem; with SMS work off only an alarm sends one.
    bool sms = std::string(d.name) == "brenlow" && r.port->read_master(4096, 100).find("AT") != std::string::npos;
    if (sms || calls.find("reboot") != std::string::npos || calls.find("harnd") != std::string::npos
        || calls.find("cell.sh") != std::string::npos || !box.read("/tmp/sms_tosend").empty())
        return HARMFUL;
    if (!running && r.status > 128)
        return CRASHED;
    // A daemon that waits uses a small part of a second; a few spinning at
    // once still get far more than this of the two cores they share.
    if (running && cpu > std::max(1.0, d.window_ms / 10000.0))
        return SPUN;
    if (!running)
        return r.status == 78 && said.find(named) != std::string::npos ? REFUSED : EXITED_UNNAMED;
    return said.find(named) != std::string::npos ? IGNORED : RAN_ON;
}

TEST(HostileOptions, EveryBadValueIsRefusedByNameOrRunsOnHarmlessly)
{
    int counts[OUTCOMES] = {};
    for (const Daemon& d : daemons()) {
        if (std::string(d.name) == "quorral" && !has_netns()) {
            printf("quorral cases not run: no network namespace (unshare -rn) for its server names\n");
            continue;
        }
        std::vector<std::unique_ptr<CaseRun>> runs;
        for (int i = 0; i < d.table->count; ++i) {
            const OptionRow& row = d.table->rows[i];
            const char* own = row.section[0] ? row.section : d.table->section;
            std::string section = own ? own : "traffic";
            for (const std::string& value : HOSTILE) {
                runs.push_back(std::make_unique<CaseRun>());
                runs.back()->key = std::string(d.table->package) + "." + section + "." + row.option;
                runs.back()->value = value;
                runs.back()->bad = !option_value_ok(row, value.c_str());
                runs.back()->box->uci_package(d.table->package, package_text(d.package, section, row.option, value));
            }
        }
        for (auto& r : runs)
            start(d, *r);
        long long deadline = now_ms() + d.window_ms;
        while (now_ms() < deadline) {
            // The GPS receiver talks all the time; a silent one is a fault of its own.
            for (auto& r : runs)
                if (std::string(d.name) == "quorral")
                    r->port->write_all("$GPRMC,1\r\n");
            usleep(200000);
        }
        for (auto& run : runs) {
            CaseRun& r = *run;
            r.status = r.box->wait_exit(r.pid, 0);
            bool running = r.status < 0;
            double cpu = running ? cpu_seconds(r.pid) : 0;
            if (running)
                r.box->stop(r.pid);
            Outcome o = judge(d, r, running, cpu);
            ++counts[o];
            // A bad value is named; a good one (a keyword "-1") runs.
            EXPECT_TRUE(r.bad ? o == REFUSED || o == IGNORED : o == RAN_ON)
                << r.key << " '" << r.value.substr(0, 30) << "': " << OUTCOME_NAMES[o] << ", status " << r.status
                << "\n" << r.box->read(d.log).substr(0, 2000) << r.box->calls();
        }
    }
    for (int o = 0; o < OUTCOMES; ++o)
        printf("%-18s %d\n", OUTCOME_NAMES[o], counts[o]);
}

} // namespace

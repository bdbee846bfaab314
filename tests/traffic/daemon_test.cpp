// The real moskar against real interface counters in namespaces the test makes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "moskar_fixture.h"

namespace {

using namespace moskar_test;

TEST_F(MoskarTest, UsedGrowsByWhatTheKernelCounted)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    box.uci_package("moskar", std::string("config traffic 'traffic'\n") + QUIET_SECTION + "\toption datamax '100000'\n");
    pid_t pid = start_in_net(net.if_a);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "set used to", WAIT_MS)) << box.read("/var/log/mk.log");

    net.send(300000);
    long long counted = net.counted();
    ASSERT_GT(counted, 300000);
    // Nothing but the odd ARP exchange crosses A: within a cycle or two used is
    // the kernel's count of the whole life of the interface.
    bool matched = false;
    long long deadline = now_ms() + 3 * CYCLE_MS;
    do {
        counted = net.counted();
        matched = uci_ll("moskar.traffic.used") == counted;
        if (!matched)
            usleep(200000);
    } while (!matched && now_ms() < deadline);
    EXPECT_TRUE(matched) << "kernel " << counted << ", uci " << box.uci_get("moskar.traffic.used");
    EXPECT_TRUE(wait_uci("moskar.traffic.ulspeed", "0.00"));
    EXPECT_EQ(box.uci_get("moskar.traffic.dlspeed"), "0.00");
    // The received bytes drive ul speed: some cycle saw the burst mostly as received.
    std::string log = box.read("/var/log/mk.log");
    bool burst_seen = false;
    for (size_t at = log.find("ul speed="); at != std::string::npos; at = log.find("ul speed=", at + 1)) {
        float ul = 0, dl = 0;
        if (sscanf(log.c_str() + at, "ul speed=%f, dl speed = %f", &ul, &dl) == 2 && ul > 10 && ul > dl)
            burst_seen = true;
    }
    EXPECT_TRUE(burst_seen) << log;
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;
    // Log lines keep the unit name they print today, wherever their code moves.
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[main\.cpp \d+\] Info： set used to )"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[main\.cpp \d+\] Debug： ul speed=)"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[speed\.cpp \d+\] Debug： get_used\()"))) << log;
    EXPECT_EQ(box.read("/var/run/mk.pid"), std::to_string(pid) + "\n");
}

TEST_F(MoskarTest, AlarmBatchesAtEachPercentageAndOneShutdown)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    // 1 MB allowance: the percentages fall at 500, 800 and 1000 KB.
    box.uci_package("moskar", std::string("config traffic 'traffic'\n") + QUIET_SECTION +
                                  "\toption datamax '1'\n\tlist percent '100'\n\tlist percent '50'\n"
                                  "\tlist percent '80'\n\toption phone '111 +4922'\n\toption turnoff '1'\n");
    box.write("/etc/config/system", "config system\n\toption hostname \"R'1 $(touch /tmp/mkinj)\"\n");
    ASSERT_GT(start_in_net(net.if_a), 0);
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "set used to", WAIT_MS));
    std::string tail = " Traffic Limit Alarm: max data:1MB. used:";
    std::string host = "R'1 $(touch /tmp/mkinj)";
    auto batch = [&](int mb) {
        return "111," + host + tail + std::to_string(mb) + "MB\n+4922," + host + tail + std::to_string(mb) + "MB\n";
    };

    net.send_until(560000);
    ASSERT_LT(net.counted(), 800000);
    ASSERT_TRUE(wait_uci("moskar.traffic.alarmsent", "50"));
    EXPECT_TRUE(box.wait_for_text("/tmp/sms_tosend", batch(0), CYCLE_MS));

    net.send_until(850000);
    ASSERT_LT(net.counted(), 1000000);
    ASSERT_TRUE(wait_uci("moskar.traffic.alarmsent", "80"));
    EXPECT_EQ(harnd_stops(), 0);

    net.send_until(1050000);
    ASSERT_TRUE(wait_uci("moskar.traffic.alarmsent", "100"));
    ASSERT_TRUE(wait_uci("moskar.traffic.force_shutdown", "1"));
    ASSERT_TRUE(box.wait_for_text("/calls.log", "/etc/init.d/harnd stop", CYCLE_MS));
    // Two more cycles: no new batch, no second stop.
    std::string log_mark = "Traffic Limit 1 used:" + box.uci_get("moskar.traffic.used");
    EXPECT_TRUE(box.wait_for_text("/var/log/mk.log", log_mark, 3 * CYCLE_MS));
    EXPECT_EQ(box.read("/tmp/sms_tosend"), batch(0) + batch(0) + batch(1));
    EXPECT_EQ(harnd_stops(), 1);
    EXPECT_NE(access("/tmp/mkinj", F_OK), 0);
    EXPECT_FALSE(box.exists("/tmp/mkinj"));
}

TEST_F(MoskarTest, ResetMarkerOfInstanceTwoLeavesInstanceOne)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    std::string section = std::string(QUIET_SECTION) + "\toption datamax '1000'\n\toption used '5000'\n"
                          "\toption alarmsent '50'\n\toption force_shutdown '1'\n";
    box.uci_package("moskar", "config traffic 'traffic'\n" + section + "\nconfig traffic 'traffic2'\n" + section);
    box.write("/etc/forcecellup", "");
    // lo of a fresh namespace: up, and nothing crosses it.
    ASSERT_GT(start_in_net("lo"), 0);
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "Traffic Limit 1 used:5000", WAIT_MS));
    ASSERT_GT(start_in_net("lo", "2"), 0);
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "Traffic Limit 2 used:5000", WAIT_MS));

    box.write("/tmp/.mk_reset_used2", "");
    ASSERT_TRUE(wait_uci("moskar.traffic2.used", "0"));
    // The marker and /etc/forcecellup go after the options are set: wait for them.
    long long deadline = now_ms() + WAIT_MS;
    while ((box.exists("/tmp/.mk_reset_used2") || box.exists("/etc/forcecellup")) && now_ms() < deadline)
        usleep(50000);
    EXPECT_FALSE(box.exists("/tmp/.mk_reset_used2"));
    EXPECT_FALSE(box.exists("/etc/forcecellup"));
    EXPECT_TRUE(box.wait_for_text("/var/log/mk.log", "Traffic Limit 2 used:0", WAIT_MS));
    EXPECT_TRUE(box.wait_for_text("/var/log/mk.log", "Traffic Limit 1 used:5000", WAIT_MS));
    EXPECT_EQ(box.uci_get("moskar.traffic2.alarmsent"), "0");
    EXPECT_EQ(box.uci_get("moskar.traffic2.force_shutdown"), "0");
    EXPECT_EQ(box.uci_get("moskar.traffic.used"), "5000");
    EXPECT_EQ(box.uci_get("moskar.traffic.alarmsent"), "50");
    EXPECT_EQ(box.uci_get("moskar.traffic.force_shutdown"), "1");
}

TEST_F(MoskarTest, DisabledInstanceWritesUsedZeroAndSpeeds)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    box.uci_package("moskar", "config traffic 'traffic2'\n\toption enabled '0'\n\toption used '777'\n"
                              "\toption period 'day'\n\toption datamax '0'\n\toption turnoff '1'\n");
    ASSERT_GT(start_in_net("lo", "2"), 0);
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "Info： not enabled 777", WAIT_MS)) << box.read("/var/log/mk.log");
    EXPECT_TRUE(wait_uci("moskar.traffic2.used", "0"));
    EXPECT_TRUE(wait_uci("moskar.traffic2.ulspeed", "0.00"));
    EXPECT_EQ(box.uci_get("moskar.traffic2.dlspeed"), "0.00");
    // Disabled: no period, no alarm, no shutdown even with a zero allowance.
    EXPECT_EQ(box.uci_get("moskar.traffic2.endtime"), "");
    EXPECT_EQ(harnd_stops(), 0);
    EXPECT_NE(box.read("/var/log/mk.log").find("traffic limitation functionality is not enabled"), std::string::npos);
}

constexpr const char* BOOT_ID = "0d5e8a4c-1b2f-4e3a-9c7d-6f5e4d3c2b1a\n";

TEST_F(MoskarTest, KillsAndRestartsCountEachByteOnceUntilReboot)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    ASSERT_EQ(box.shell("mkdir -p \"$ROUTER_ROOT/proc/sys/kernel/random\""), 0);
    box.write("/proc/sys/kernel/random/boot_id", BOOT_ID);
    box.uci_package("moskar", std::string("config traffic 'traffic'\n") + QUIET_SECTION + "\toption datamax '100000'\n");
    long long started_ms = now_ms();
    pid_t traffic = box.start("/usr/bin/env", net.steady_traffic_args());
    ASSERT_GT(traffic, 0);
    // Killed at different points of its cycle, as procd restarts after a crash.
    for (int i = 0; i < 10; ++i) {
        pid_t pid = start_counting();
        ASSERT_GT(pid, 0);
        usleep((i % 4) * 700000);
        box.stop(pid, SIGKILL);
    }
    pid_t pid = start_counting();
    ASSERT_GT(pid, 0);
    box.stop(traffic, SIGKILL);
    long long traffic_ms = now_ms() - started_ms;
    // Two more cycles: the last bytes are in.
    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "this used:0", 3 * WAIT_MS));
    long long counted = net.counted();
    long long used = uci_ll("moskar.traffic.used");
    long long cycle_bytes = counted * CYCLE_MS / traffic_ms;
    EXPECT_LE(llabs(used - counted), cycle_bytes) << "kernel " << counted << ", used " << used;
    printf("after 10 restarts in %lld ms: kernel rx+tx %lld, used %lld, one cycle %lld\n", traffic_ms, counted, used,
           cycle_bytes);

    // Another boot: the counters of the interface count whole, as on a first start.
    box.stop(pid, SIGKILL);
    box.write("/proc/sys/kernel/random/boot_id", "7a6b5c4d-3e2f-4a1b-8c9d-0e1f2a3b4c5d\n");
    ASSERT_GT(start_counting(), 0);
    EXPECT_TRUE(wait_uci("moskar.traffic.used", std::to_string(used + net.counted())))
        << "before " << used << ", kernel " << net.counted() << ", used " << box.uci_get("moskar.traffic.used");
}

TEST_F(MoskarTest, CommitIntervalSparesThePackageFileAndTermCommits)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    // 20 s stands in for the packaged 300: the same rule over a shorter run.
    constexpr int INTERVAL_S = 20;
    box.uci_package("moskar", std::string("config traffic 'traffic'\n") + QUIET_SECTION +
                                  "\toption datamax '100000'\n\toption commit_interval '20'\n");
    ASSERT_GT(box.start("/usr/bin/env", net.steady_traffic_args()), 0);
    pid_t pid = start_counting();
    ASSERT_GT(pid, 0);

    std::vector<long long> rewrites_ms;
    std::vector<long long> used;
    ino_t inode = package_inode();
    long long start = now_ms();
    long long next_sample = start;
    while (now_ms() - start < 3 * INTERVAL_S * 1000) {
        if (package_inode() != inode) {
            inode = package_inode();
            rewrites_ms.push_back(now_ms());
        }
        if (now_ms() >= next_sample) {
            used.push_back(uci_ll("moskar.traffic.used"));
            next_sample += 2 * CYCLE_MS;
        }
        usleep(100000);
    }
    EXPECT_LE(rewrites_ms.size(), 3u);
    EXPECT_GE(rewrites_ms.size(), 2u);
    for (size_t i = 1; i < rewrites_ms.size(); ++i)
        EXPECT_GE(rewrites_ms[i] - rewrites_ms[i - 1], (INTERVAL_S - 2) * 1000) << i;
    // uci get reads the changes not yet committed: the live value rises all along.
    for (size_t i = 1; i < used.size(); ++i)
        EXPECT_GT(used[i], used[i - 1]) << i;

    // A reset by marker reaches the file at once, well within the interval.
    box.write("/tmp/.mk_reset_used1", "");
    long long deadline = now_ms() + WAIT_MS;
    while (committed("used") != "0" && now_ms() < deadline)
        usleep(100000);
    EXPECT_EQ(committed("used"), "0");

    ASSERT_TRUE(box.wait_for_text("/var/log/mk.log", "Traffic Limit 1 used:", WAIT_MS));
    kill(pid, SIGTERM);
    EXPECT_EQ(box.wait_exit(pid, WAIT_MS), 0);
    EXPECT_NE(box.read("/var/log/mk.log").find("traffic limit stopped"), std::string::npos);
    // The last value set is the committed one, and nothing waits in the delta.
    EXPECT_EQ(committed("used"), box.uci_get("moskar.traffic.used"));
    EXPECT_NE(committed("used"), "0");
    EXPECT_EQ(command_output(box.env_root() + " " + sim_bin_path("uci") + " changes moskar"), "");
}

// What the web page plots and shows: the series of the day's megabytes goes
// with used into the package file, carries on after a restart, and the
// status file says what uci does.
TEST_F(MoskarTest, DailySeriesAndStatusFollowUsedAcrossARestart)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    ASSERT_EQ(box.shell("mkdir -p \"$ROUTER_ROOT/proc/sys/kernel/random\""), 0);
    box.write("/proc/sys/kernel/random/boot_id", BOOT_ID);
    box.uci_package("moskar", std::string("config traffic 'traffic'\n") + QUIET_SECTION +
                                  "\toption datamax '100000'\n\toption daily_prev '20260101 7 8'\n");
    char today[16];
    time_t now = time(nullptr);
    strftime(today, sizeof today, "%Y%m%d", localtime(&now));
    // Today's figure in the uci option, once the status file shows the same used.
    auto today_mb = [&](long long at_least) {
        long long used = 0;
        long long deadline = now_ms() + WAIT_MS;
        do {
            used = uci_ll("moskar.traffic.used");
            if (used >= at_least && box.read("/var/run/moskar1.status").find("\nused=" + std::to_string(used) + "\n") !=
                                        std::string::npos)
                break;
            usleep(200000);
        } while (now_ms() < deadline);
        std::string daily = box.uci_get("moskar.traffic.daily");
        EXPECT_EQ(daily.substr(0, 9), std::string(today) + " ") << daily;
        EXPECT_NE(box.read("/var/run/moskar1.status").find("\ndaily=" + daily + "\n"), std::string::npos);
        EXPECT_LE(llabs(atoll(daily.substr(daily.rfind(' ') + 1).c_str()) - used / 1000000), 1) << daily << " " << used;
    };
    pid_t pid = start_counting();
    ASSERT_GT(pid, 0);
    net.send_until(2600000);
    today_mb(2600000);
    box.stop(pid, SIGTERM);
    EXPECT_EQ(committed("daily"), box.uci_get("moskar.traffic.daily"));

    // Restarted: today's figure goes on from what was written, not from 0.
    ASSERT_GT(start_counting(), 0);
    net.send_until(4200000);
    today_mb(4200000);
    EXPECT_EQ(box.uci_get("moskar.traffic.daily_prev"), "20260101 7 8");
}

TEST_F(MoskarTest, MissingInterfaceIsLoggedForItsInstance)
{
    box.uci_package("moskar", "config traffic 'traffic'\n\toption enabled '1'\n\toption used '42'\n");
    // Any third argument but 2 runs instance 1.
    pid_t pid = box.start(bin_path("moskar"), {"mknosuch0", box.path("/var/run/mk.pid"), "3"});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(box.wait_for_text("/var/log/mk.log", "Error： get interface info failed 1", WAIT_MS))
        << box.read("/var/log/mk.log");
    EXPECT_EQ(box.read("/var/run/mk.pid"), std::to_string(pid) + "\n");
    // The first line too goes to moskar's own log, none to the shared default one.
    EXPECT_NE(box.read("/var/log/mk.log").find("starting traffic limit 4,"), std::string::npos);
    EXPECT_FALSE(box.exists("/tmp/myLog1.log"));
    EXPECT_EQ(box.uci_get("moskar.traffic.used"), "42");
}

} // namespace

// moskar and brenlow together: an allowance used up on an interface becomes an
// alarm line in the outbox spool, which brenlow sends to the simulated phone.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "sandbox.h"

namespace {

const char* const OWNER = "13912345678";

// Pushes about 2.8 MB through loopback so its counters pass a 1 MB allowance
// whatever ran on the machine before.
void loopback_traffic()
{
    int rx = socket(AF_INET, SOCK_DGRAM, 0);
    int tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(rx, reinterpret_cast<sockaddr*>(&addr), &len);
    char payload[1400] = {};
    for (int i = 0; i < 2000; ++i)
        sendto(tx, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(tx);
    close(rx);
}

TEST(TrafficAlarmSms, UsedUpAllowanceReachesThePhoneThroughTheSpool)
{
    Sandbox box;
    box.uci_package("sms", "config command 'command'\n\toption enabled '1'\n"
                           "config general 'general'\n\toption debug '5'\n");
    box.write("/var/run/phonenum", std::string("1,1,") + OWNER + "\n");
    box.uci_package("system", "config system\n\toption hostname 'EdgeRouter'\n");
    box.uci_package("moskar", std::string("config traffic 'traffic'\n\toption enabled '1'\n\toption period 'month'\n"
                                          "\toption start_month '1'\n\toption endtime '2000000000'\n"
                                          "\toption datamax '1'\n\tlist percent '50'\n\tlist percent '100'\n"
                                          "\toption phone '") + OWNER + "'\n\toption debug '5'\n");
    ASSERT_EQ(box.shell("mkdir -p \"$ROUTER_ROOT/simstore\""), 0);

    std::string device = box.path("/dev_modem");
    box.start(sim_bin_path("modemsim"), {"--mode", "gsm", "--device", device, "--store", box.path("/simstore")});
    long long deadline = now_ms() + 10000;
    while (access(device.c_str(), F_OK) != 0 && now_ms() < deadline)
        usleep(20000);
    ASSERT_EQ(access(device.c_str(), F_OK), 0) << "modem simulator did not come up";
    ASSERT_GT(box.start(bin_path("brenlow"), {device, box.path("/var/run/brenlow.pid")}), 0);

    loopback_traffic();
    ASSERT_GT(box.start(bin_path("moskar"), {"lo", box.path("/var/run/moskar.pid"), "1"}), 0);

    // One line for the 100 % step (the 50 % step is passed in the same cycle),
    // then one GSM send of about 21 s after the next 5-second pass.
    const std::string text = "EdgeRouter Traffic Limit Alarm: max data:1MB. used:";
    ASSERT_TRUE(box.wait_for_text("/simstore/sent.log", std::string(OWNER) + "\t" + text, 90000))
        << "spool: " << box.read("/tmp/sms_tosend") << "\nmk.log tail: " << box.read("/var/log/mk.log").substr(0, 2000);
    // The journal line follows once the send's answer window has run out.
    EXPECT_TRUE(box.wait_for_text("/etc/config/sms_record", text, 60000));
    EXPECT_EQ(box.uci_get("moskar.traffic.alarmsent"), "100");
}

} // namespace

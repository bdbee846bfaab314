// moskar's count against the kernel's 64-bit counters past 4 GiB and across a
// re-created interface, and allowances past 32 bits.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "moskar_fixture.h"

namespace {

using namespace moskar_test;

constexpr long long GIB = 1LL << 30;

TEST_F(MoskarTest, SixGibibytesAreCountedAsTheKernelCountsThem)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    constexpr long long bytes = 6 * GIB;
    box.uci_package("moskar", std::string("config traffic 'traffic'\n") + QUIET_SECTION + "\toption datamax '100000'\n");
    ASSERT_GT(start_counting(), 0);
    long long started = now_ms();
    ASSERT_TRUE(net.send_fast(bytes));
    long long took = now_ms() - started;
    ASSERT_GT(net.counted(), bytes) << "the pair did not carry the traffic";
    std::string seen;
    EXPECT_TRUE(wait_used_counted(0, &seen)) << seen;
    long long used = uci_ll("moskar.traffic.used");
    long long counted = net.counted();
    printf("%lld GiB in %lld ms (%lld MB/s): kernel rx+tx %lld, used %lld (%+.4f %%)\n", bytes / GIB, took,
           bytes / 1000 / (took > 0 ? took : 1), counted, used, 100.0 * (used - counted) / counted);
}

TEST_F(MoskarTest, RecreatedInterfaceCountsItsNewCountersWhole)
{
    if (!make_net())
        GTEST_SKIP() << skip_reason;
    box.uci_package("moskar", std::string("config traffic 'traffic'\n") + QUIET_SECTION + "\toption datamax '100000'\n");
    ASSERT_GT(start_counting(), 0);
    net.send(300000);
    std::string seen;
    ASSERT_TRUE(wait_used_counted(0, &seen)) << seen;
    long long before = uci_ll("moskar.traffic.used");
    // Right after a reading, so the new interface carries more than the old
    // one had before moskar reads again.
    size_t mark = box.read("/var/log/mk.log").size();
    long long deadline = now_ms() + WAIT_MS;
    while (box.read("/var/log/mk.log").find("Traffic Limit 1 used:", mark) == std::string::npos && now_ms() < deadline)
        usleep(20000);
    ASSERT_EQ(net.recreate_link(), "");
    net.send(1000000);
    EXPECT_TRUE(wait_used_counted(before, &seen)) << "old interface " << before << ": " << seen;
    printf("old interface %lld, new interface %lld, used %lld\n", before, net.counted(),
           uci_ll("moskar.traffic.used"));
}

// On the host's loopback: no root needed, and its count is far below any of these allowances.
TEST_F(MoskarTest, AllowancesPastThirtyTwoBitsHoldAndOneTooLargeIsRefused)
{
    const std::string section = "config traffic 'traffic'\n\toption enabled '1'\n\toption period 'month'\n"
                                "\toption start_month '1'\n\toption endtime '4000000000'\n\toption turnoff '1'\n"
                                "\tlist percent '80'\n\tlist percent '100'\n\toption phone '111'\n";
    for (const char* datamax : {"2147483648", "4294967296"}) {
        box.uci_package("moskar", section + "\toption datamax '" + datamax + "'\n");
        unlink(box.path("/var/log/mk.log").c_str());
        pid_t pid = box.start(bin_path("moskar"), {"lo", box.path("/var/run/mk.pid")});
        ASSERT_GT(pid, 0);
        // Two whole cycles, alarm and allowance checks included.
        long long deadline = now_ms() + WAIT_MS;
        while (count_of(box.read("/var/log/mk.log"), "check if should shutdown") < 2 && now_ms() < deadline)
            usleep(100000);
        box.stop(pid);
        std::string log = box.read("/var/log/mk.log");
        EXPECT_EQ(count_of(log, "check if should shutdown"), 2u) << datamax << "\n" << log;
        EXPECT_NE(log.find(std::string("max=") + datamax), std::string::npos) << log;
        EXPECT_EQ(box.read("/tmp/sms_tosend"), "") << datamax;
        EXPECT_EQ(box.calls().find("harnd"), std::string::npos) << datamax;
        EXPECT_NE(box.uci_get("moskar.traffic.force_shutdown"), "1") << datamax;
    }

    box.uci_package("moskar", section + "\toption datamax '99999999999999999999'\n");
    unlink(box.path("/var/log/mk.log").c_str());
    pid_t pid = box.start(bin_path("moskar"), {"lo", box.path("/var/run/mk.pid")});
    ASSERT_GT(pid, 0);
    int status = box.wait_exit(pid, WAIT_MS);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1) << "still running";
    std::string log = box.read("/var/log/mk.log");
    EXPECT_EQ(count_of(log, "Error"), 1u) << log;
    EXPECT_NE(log.find("datamax '99999999999999999999'"), std::string::npos) << log;
    EXPECT_EQ(box.read("/tmp/sms_tosend"), "");
    EXPECT_EQ(box.calls().find("harnd"), std::string::npos);
}

} // namespace

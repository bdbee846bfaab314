// Interface counters, the accounting of a reading, and the percent list.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <string>
#include <vector>

#include "baseline.h"
#include "settings.h"
#include "speed.h"

namespace {

std::string two_decimals(float speed)
{
    char text[32];
    snprintf(text, sizeof text, "%.2f", speed);
    return text;
}

// The interface's index and what a link carries in a 3-second cycle.
constexpr int IF = 3;
constexpr long long GROWTH = 3 * LINK_BYTES_PER_SECOND_MAX;

TEST(Accounting, AddsGrowthOfBothCountersAndDerivesSpeeds)
{
    TrafficSettings s = {};
    s.used = 7;
    ReadingResult first = account_reading(s, 1000, 5000, IF, GROWTH);
    // The first reading after a start counts the interface's whole counters.
    EXPECT_EQ(first.added, 6000);
    EXPECT_EQ(s.used, 6007);

    ReadingResult r = account_reading(s, 4000, 35000, IF, GROWTH);
    EXPECT_EQ(r.added, 33000);
    EXPECT_EQ(s.used, 39007);
    // ul follows the received bytes, dl the transmitted ones.
    EXPECT_EQ(two_decimals(r.ul_speed), "10.00");
    EXPECT_EQ(two_decimals(r.dl_speed), "1.00");
    EXPECT_EQ(s.last_tx, 4000);
    EXPECT_EQ(s.last_rx, 35000);
    EXPECT_EQ(s.last_total, 39000);

    r = account_reading(s, 4000, 35000, IF, GROWTH);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(two_decimals(r.ul_speed), "0.00");
}

TEST(Accounting, WrapOfOneCounterDoesNotRecountTheOther)
{
    TrafficSettings s = {};
    account_reading(s, 4294967000LL, 900000000LL, IF, GROWTH);
    s.used = 0;
    // tx wrapped at 2^32 (296 bytes to the wrap, 600 after); rx grew by 3 000.
    ReadingResult r = account_reading(s, 600, 900003000LL, IF, GROWTH);
    EXPECT_EQ(r.added, 3896);
    EXPECT_EQ(s.used, 3896);
    EXPECT_EQ(two_decimals(r.ul_speed), "1.00");
    EXPECT_EQ(two_decimals(r.dl_speed), "0.30");

    // Both fell far from 2^32, as when the interface came up again: both new values count.
    r = account_reading(s, 300, 6000, IF, GROWTH);
    EXPECT_EQ(r.added, 6300);
    EXPECT_EQ(two_decimals(r.ul_speed), "2.00");
    EXPECT_EQ(two_decimals(r.dl_speed), "0.10");
}

// A driver that keeps unsigned long counters on a 32-bit kernel wraps at 2^32.
TEST(Accounting, WrapsOfThirtyTwoBitCountersAreToldFromRestarts)
{
    // Within one cycle's growth of 2^32: a wrap.
    EXPECT_EQ(counter_growth(1500000, 4294000000LL, GROWTH), 967296 + 1500000);
    EXPECT_EQ(counter_growth(0, 4294967295LL, GROWTH), 1);
    // A fall from far below 2^32, or one that would take more than a cycle
    // could carry: a restart, its new value counts.
    EXPECT_EQ(counter_growth(1000, 2000000000LL, GROWTH), 1000);
    EXPECT_EQ(counter_growth(GROWTH, 4294000000LL, GROWTH), GROWTH);
    // A 64-bit counter past 2^32 never wraps there.
    EXPECT_EQ(counter_growth(1000, 5000000000LL, GROWTH), 1000);
    // A long pause allows a larger wrap.
    EXPECT_EQ(counter_growth(2000000000LL, 3000000000LL, 10 * GROWTH), 3294967296LL);
}

TEST(Accounting, InterfaceMadeAgainCountsItsCountersWhole)
{
    TrafficSettings s = {};
    account_reading(s, 100000, 200000, IF, GROWTH);
    s.used = 300000;
    // The new interface already carried more than the old one had.
    ReadingResult r = account_reading(s, 400000, 600000, IF + 1, GROWTH);
    EXPECT_EQ(r.added, 1000000);
    EXPECT_EQ(s.used, 1300000);
    EXPECT_EQ(account_reading(s, 400500, 600000, IF + 1, GROWTH).added, 500);
}

constexpr const char* BOOT = "6f1c2b8e-3d4a-4c5b-9e7f-0a1b2c3d4e5f";

TEST(CounterBaseline, LineRoundTripsAndMalformedLinesAreRefused)
{
    CounterBaseline b = {};
    snprintf(b.ifname, sizeof b.ifname, "wwan0");
    b.rx = 4294967295LL;
    b.tx = 12;
    snprintf(b.boot_id, sizeof b.boot_id, "%s", BOOT);
    b.used = 9000000000LL;
    b.ifindex = 7;
    char line[128];
    format_baseline(line, sizeof line, b);
    EXPECT_EQ(std::string(line), std::string("wwan0 4294967295 12 ") + BOOT + " 9000000000 7\n");
    CounterBaseline back;
    ASSERT_TRUE(parse_baseline(line, &back));
    EXPECT_STREQ(back.ifname, "wwan0");
    EXPECT_EQ(back.rx, 4294967295LL);
    EXPECT_EQ(back.tx, 12);
    EXPECT_STREQ(back.boot_id, BOOT);
    EXPECT_EQ(back.used, 9000000000LL);
    EXPECT_EQ(back.ifindex, 7);
    // A line from before the index was kept still reads.
    ASSERT_TRUE(parse_baseline((std::string("wwan0 1 2 ") + BOOT + " 3\n").c_str(), &back));
    EXPECT_EQ(back.ifindex, 0);

    for (const char* bad : {"", "wwan0 1 2 id", "wwan0 x 2 id 0", "wwan0 -1 2 id 0", "wwan0 1 2 id -5",
                            "ifname-of-16-chr 1 2 id 0", "wwan0 1 2 0123456789012345678901234567890123456789 0"})
        EXPECT_FALSE(parse_baseline(bad, &back)) << bad;
}

// wwan0 of this boot at tx 1 000 and rx 5 000.
CounterBaseline wwan0_baseline(long long used)
{
    CounterBaseline b = {};
    snprintf(b.ifname, sizeof b.ifname, "wwan0");
    b.tx = 1000;
    b.rx = 5000;
    snprintf(b.boot_id, sizeof b.boot_id, "%s", BOOT);
    b.used = used;
    b.ifindex = IF;
    return b;
}

TEST(CounterBaseline, RestartInTheSameBootAddsOnlyTheGrowth)
{
    CounterBaseline b = wwan0_baseline(6000);

    // uci may hold the volume of the reading before (killed while uci ran):
    // the baseline's volume is the one that goes with its counters.
    TrafficSettings s = {};
    s.used = 5400;
    ASSERT_TRUE(resume_from_baseline(s, b, "wwan0", BOOT, 1500, 5000, IF));
    EXPECT_EQ(account_reading(s, 1500, 5000, IF, GROWTH).added, 500);
    EXPECT_EQ(s.used, 6500);
}

TEST(CounterBaseline, RebootNewInterfaceOrFallenCounterCountsTheWholeCounters)
{
    CounterBaseline b = wwan0_baseline(1);
    struct Case {
        const char* ifname;
        const char* boot_id;
        long long tx, rx;
        int ifindex;
    } cases[] = {
        {"wwan0", "another-boot", 1500, 5500, IF}, // rebooted
        {"wwan0", "", 1500, 5500, IF},             // boot id unknown
        {"usb0", BOOT, 1500, 5500, IF},            // another interface
        {"wwan0", BOOT, 1500, 5500, IF + 1},       // the interface was made again
        {"wwan0", BOOT, 900, 5500, IF},            // tx fell: the interface came up again
        {"wwan0", BOOT, 1500, 4000, IF},           // rx fell
    };
    for (const Case& c : cases) {
        TrafficSettings s = {};
        s.used = 70;
        EXPECT_FALSE(resume_from_baseline(s, b, c.ifname, c.boot_id, c.tx, c.rx, c.ifindex))
            << c.ifname << " " << c.boot_id << " " << c.ifindex;
        EXPECT_EQ(account_reading(s, c.tx, c.rx, c.ifindex, GROWTH).added, c.tx + c.rx);
        EXPECT_EQ(s.used, 70 + c.tx + c.rx);
    }
}

TEST(InterfaceCounters, LoopbackIsFoundAndAbsentOrOverlongNamesFail)
{
    long long tx = -1;
    long long rx = -1;
    int ifindex = 0;
    EXPECT_NE(get_used("lo", &tx, &rx, &ifindex), -1);
    EXPECT_GE(tx, 0);
    EXPECT_GE(rx, 0);
    EXPECT_GT(ifindex, 0);
    tx = rx = 77;
    EXPECT_EQ(get_used("mknosuchif0", &tx, &rx, &ifindex), -1);
    EXPECT_EQ(tx, 77);
    // 16 characters cannot name a kernel interface; cutting it must not match "lo"-like prefixes.
    EXPECT_EQ(get_used("lo0123456789abcd", &tx, &rx, &ifindex), -1);
    EXPECT_EQ(get_used("", &tx, &rx, &ifindex), -1);
}

// A link answer built as the kernel lays it out: header, link record, attributes.
struct LinkAnswer {
    unsigned char bytes[1024] = {};
    size_t length = NLMSG_LENGTH(sizeof(ifinfomsg));
    LinkAnswer(int index, unsigned flags)
    {
        nlmsghdr h = {};
        h.nlmsg_type = RTM_NEWLINK;
        memcpy(bytes, &h, sizeof h);
        ifinfomsg info = {};
        info.ifi_index = index;
        info.ifi_flags = flags;
        memcpy(bytes + NLMSG_HDRLEN, &info, sizeof info);
        set_length();
    }
    void add(unsigned short type, const void* data, size_t size)
    {
        length = NLMSG_ALIGN(length);
        rtattr a = {static_cast<unsigned short>(RTA_LENGTH(size)), type};
        memcpy(bytes + length, &a, sizeof a);
        memcpy(bytes + length + RTA_LENGTH(0), data, size);
        length += RTA_LENGTH(size);
        set_length();
    }
    void set_length()
    {
        nlmsghdr h = {};
        memcpy(&h, bytes, sizeof h);
        h.nlmsg_len = length;
        memcpy(bytes, &h, sizeof h);
    }
};

TEST(InterfaceCounters, LinkAnswerGivesTheSixtyFourBitCountersAndIndex)
{
    rtnl_link_stats old = {};
    old.rx_bytes = 11;
    old.tx_bytes = 22;
    rtnl_link_stats64 wide = {};
    wide.rx_bytes = 6503157734ULL;
    wide.tx_bytes = 4294967296ULL;
    LinkAnswer answer(9, IFF_UP | IFF_RUNNING);
    answer.add(IFLA_IFNAME, "wwan0", 6);
    answer.add(IFLA_STATS, &old, sizeof old);
    answer.add(IFLA_STATS64, &wide, sizeof wide);
    ndev dev = {};
    ASSERT_EQ(parse_link_reply(answer.bytes, answer.length, &dev), 0);
    EXPECT_EQ(dev.ifindex, 9);
    EXPECT_EQ(dev.rx, 6503157734ULL);
    EXPECT_EQ(dev.tx, 4294967296ULL);

    // Down, without statistics, cut anywhere, or an attribute running past
    // the message: no reading, and no byte read past the answer.
    LinkAnswer down(9, 0);
    down.add(IFLA_STATS64, &wide, sizeof wide);
    EXPECT_EQ(parse_link_reply(down.bytes, down.length, &dev), -1);
    LinkAnswer bare(9, IFF_UP);
    bare.add(IFLA_IFNAME, "wwan0", 6);
    EXPECT_EQ(parse_link_reply(bare.bytes, bare.length, &dev), -1);
    for (size_t cut = 0; cut < answer.length; ++cut) {
        std::vector<unsigned char> copy(answer.bytes, answer.bytes + cut);
        EXPECT_EQ(parse_link_reply(copy.data(), copy.size(), &dev), -1) << cut;
    }
    LinkAnswer bad(9, IFF_UP);
    bad.add(IFLA_STATS64, &wide, sizeof wide);
    rtattr overlong = {2000, IFLA_STATS64};
    memcpy(bad.bytes + NLMSG_LENGTH(sizeof(ifinfomsg)), &overlong, sizeof overlong);
    EXPECT_EQ(parse_link_reply(bad.bytes, bad.length, &dev), -1);
}

TEST(SortPercent, KeepsPositiveValuesAscending)
{
    TrafficSettings s = {};
    sort_percent(s, "80 50 0 100 abc");
    const int expected[PERCENT_SLOTS] = {50, 80, 100};
    for (int i = 0; i < PERCENT_SLOTS; ++i)
        EXPECT_EQ(s.percent[i], expected[i]) << i;
}

TEST(SortPercent, TakesOnlyTheFirstTwelvePositiveValues)
{
    TrafficSettings s = {};
    sort_percent(s, "95 90 -5 85 80 75 70 65 60 55 50 45 40 35 30 25");
    const int expected[PERCENT_SLOTS] = {40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95};
    for (int i = 0; i < PERCENT_SLOTS; ++i)
        EXPECT_EQ(s.percent[i], expected[i]) << i;
    sort_percent(s, "");
    EXPECT_EQ(s.percent[0], 0);
}

} // namespace

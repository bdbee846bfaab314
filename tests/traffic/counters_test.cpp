// Interface counters, the accounting of a reading, and the percent list.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

TEST(Accounting, AddsGrowthOfBothCountersAndDerivesSpeeds)
{
    TrafficSettings s = {};
    s.used = 7;
    ReadingResult first = account_reading(s, 1000, 5000);
    // The first reading after a start counts the interface's whole counters.
    EXPECT_EQ(first.added, 6000);
    EXPECT_EQ(s.used, 6007);

    ReadingResult r = account_reading(s, 4000, 35000);
    EXPECT_EQ(r.added, 33000);
    EXPECT_EQ(s.used, 39007);
    // ul follows the received bytes, dl the transmitted ones.
    EXPECT_EQ(two_decimals(r.ul_speed), "10.00");
    EXPECT_EQ(two_decimals(r.dl_speed), "1.00");
    EXPECT_EQ(s.last_tx, 4000);
    EXPECT_EQ(s.last_rx, 35000);
    EXPECT_EQ(s.last_total, 39000);

    r = account_reading(s, 4000, 35000);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(two_decimals(r.ul_speed), "0.00");
}

TEST(Accounting, WrapOfOneCounterDoesNotRecountTheOther)
{
    TrafficSettings s = {};
    account_reading(s, 4294967000LL, 900000000LL);
    s.used = 0;
    // tx wrapped at 2^32; rx grew by 3 000.
    ReadingResult r = account_reading(s, 600, 900003000LL);
    EXPECT_EQ(r.added, 3600);
    EXPECT_EQ(s.used, 3600);
    EXPECT_EQ(two_decimals(r.ul_speed), "1.00");
    EXPECT_EQ(two_decimals(r.dl_speed), "0.20");

    // Both fell, as when the interface came up again: both new values count.
    r = account_reading(s, 300, 6000);
    EXPECT_EQ(r.added, 6300);
    EXPECT_EQ(two_decimals(r.ul_speed), "2.00");
    EXPECT_EQ(two_decimals(r.dl_speed), "0.10");
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
    char line[128];
    format_baseline(line, sizeof line, b);
    EXPECT_EQ(std::string(line), std::string("wwan0 4294967295 12 ") + BOOT + " 9000000000\n");
    CounterBaseline back;
    ASSERT_TRUE(parse_baseline(line, &back));
    EXPECT_STREQ(back.ifname, "wwan0");
    EXPECT_EQ(back.rx, 4294967295LL);
    EXPECT_EQ(back.tx, 12);
    EXPECT_STREQ(back.boot_id, BOOT);
    EXPECT_EQ(back.used, 9000000000LL);

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
    return b;
}

TEST(CounterBaseline, RestartInTheSameBootAddsOnlyTheGrowth)
{
    CounterBaseline b = wwan0_baseline(6000);

    // uci may hold the volume of the reading before (killed while uci ran):
    // the baseline's volume is the one that goes with its counters.
    TrafficSettings s = {};
    s.used = 5400;
    ASSERT_TRUE(resume_from_baseline(s, b, "wwan0", BOOT, 1500, 5000));
    EXPECT_EQ(account_reading(s, 1500, 5000).added, 500);
    EXPECT_EQ(s.used, 6500);
}

TEST(CounterBaseline, RebootNewInterfaceOrFallenCounterCountsTheWholeCounters)
{
    CounterBaseline b = wwan0_baseline(1);
    struct Case {
        const char* ifname;
        const char* boot_id;
        long long tx, rx;
    } cases[] = {
        {"wwan0", "another-boot", 1500, 5500}, // rebooted
        {"wwan0", "", 1500, 5500},             // boot id unknown
        {"usb0", BOOT, 1500, 5500},            // another interface
        {"wwan0", BOOT, 900, 5500},            // tx fell: the interface came up again
        {"wwan0", BOOT, 1500, 4000},           // rx fell
    };
    for (const Case& c : cases) {
        TrafficSettings s = {};
        s.used = 70;
        EXPECT_FALSE(resume_from_baseline(s, b, c.ifname, c.boot_id, c.tx, c.rx)) << c.ifname << " " << c.boot_id;
        EXPECT_EQ(account_reading(s, c.tx, c.rx).added, c.tx + c.rx);
        EXPECT_EQ(s.used, 70 + c.tx + c.rx);
    }
}

TEST(InterfaceCounters, LoopbackIsFoundAndAbsentOrOverlongNamesFail)
{
    long long tx = -1;
    long long rx = -1;
    EXPECT_NE(get_used("lo", &tx, &rx), -1);
    EXPECT_GE(tx, 0);
    EXPECT_LE(tx, 0xffffffffLL);
    EXPECT_GE(rx, 0);
    tx = rx = 77;
    EXPECT_EQ(get_used("mknosuchif0", &tx, &rx), -1);
    EXPECT_EQ(tx, 77);
    // 16 characters cannot name a kernel interface; cutting it must not match "lo"-like prefixes.
    EXPECT_EQ(get_used("lo0123456789abcd", &tx, &rx), -1);
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

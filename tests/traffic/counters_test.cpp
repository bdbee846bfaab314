// Interface counters, the accounting of a reading, and the percent list.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

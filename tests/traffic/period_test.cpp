// Period ends in local time, under fixed time zones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "period.h"
#include "state_writes.h"
#include "sandbox.h"

namespace {

// Central Europe with its rules written out, so no zone files are needed:
// summer time from the last Sunday of March 02:00 to the last Sunday of October 03:00.
constexpr const char* CET = "CET-1CEST,M3.5.0,M10.5.0/3";

class PeriodTest : public ::testing::Test {
protected:
    void SetUp() override { use_tz("UTC0"); }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }
    static void use_tz(const char* tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }

    static long long local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
    {
        struct tm t = {};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        t.tm_isdst = -1;
        return mktime(&t);
    }

    // The end as local "Y-M-D h:m:s wN", the rendtime form.
    std::string end_of(const char* period, long long now, int start_month = 0, int start_week = 0,
                       const char* start_hour = "")
    {
        TrafficSettings s = {};
        snprintf(s.period, sizeof s.period, "%s", period);
        s.start_month = start_month;
        s.start_week = start_week;
        snprintf(s.start_hour, sizeof s.start_hour, "%s", start_hour);
        long long end = 0;
        if (next_period_end(s, now, &end) != PeriodEnd::Computed)
            return "none";
        char text[READABLE_END_SIZE];
        format_readable_end(text, sizeof text, end);
        return text;
    }
};

TEST_F(PeriodTest, MonthEndsOnStartDayOfThisOrNextMonth)
{
    for (const char* tz : {"UTC0", CET}) {
        use_tz(tz);
        EXPECT_EQ(end_of("month", local(2025, 1, 15, 13, 5), 1), "2025-2-1 0:0:0 w6") << tz;
        EXPECT_EQ(end_of("month", local(2025, 1, 10, 23, 59, 59), 15), "2025-1-15 0:0:0 w3") << tz;
        EXPECT_EQ(end_of("month", local(2025, 1, 15), 15), "2025-2-15 0:0:0 w6") << tz;
        EXPECT_EQ(end_of("month", local(2025, 12, 20), 1), "2026-1-1 0:0:0 w4") << tz;
    }
}

TEST_F(PeriodTest, MonthStartDayBeyondFebruaryCarriesIntoMarch)
{
    EXPECT_EQ(end_of("month", local(2025, 1, 31, 0, 0, 3), 31), "2025-3-3 0:0:0 w1");
    EXPECT_EQ(end_of("month", local(2024, 1, 31, 0, 0, 3), 31), "2024-3-2 0:0:0 w6");
}

TEST_F(PeriodTest, WeekEndsOnNextStartWeekday)
{
    // 2025-01-08 is a Wednesday.
    EXPECT_EQ(end_of("week", local(2025, 1, 8, 17), 0, 1), "2025-1-13 0:0:0 w1");
    EXPECT_EQ(end_of("week", local(2025, 1, 13, 0, 0, 1), 0, 1), "2025-1-20 0:0:0 w1");
    EXPECT_EQ(end_of("week", local(2025, 1, 12, 23, 59), 0, 1), "2025-1-13 0:0:0 w1");
}

TEST_F(PeriodTest, DayCountsOnlyTheLeadingHour)
{
    EXPECT_EQ(end_of("day", local(2025, 5, 6, 9, 30), 0, 0, "8"), "2025-5-7 8:0:0 w3");
    EXPECT_EQ(end_of("day", local(2025, 5, 6, 7, 0), 0, 0, "08:30"), "2025-5-6 8:0:0 w2");
    EXPECT_EQ(end_of("day", local(2025, 5, 6, 9, 30), 0, 0, "08:30"), "2025-5-7 8:0:0 w3");
}

TEST_F(PeriodTest, DayStartedAtItsHourEndsTomorrow)
{
    // Not today's start again: that would clear the new day's bytes once per
    // cycle of its first minute.
    EXPECT_EQ(end_of("day", local(2025, 5, 6, 7, 59, 59), 0, 0, "8"), "2025-5-6 8:0:0 w2");
    EXPECT_EQ(end_of("day", local(2025, 5, 6, 8, 0, 0), 0, 0, "8"), "2025-5-7 8:0:0 w3");
    EXPECT_EQ(end_of("day", local(2025, 5, 6, 8, 0, 58), 0, 0, "8"), "2025-5-7 8:0:0 w3");
}

TEST_F(PeriodTest, EndsPast2038And2106AreComputedWhole)
{
    for (const char* tz : {"UTC0", CET}) {
        use_tz(tz);
        EXPECT_EQ(end_of("month", local(2040, 6, 15, 12), 1), "2040-7-1 0:0:0 w0") << tz;
        EXPECT_EQ(end_of("week", local(2038, 1, 19, 3, 14, 8), 0, 1), "2038-1-25 0:0:0 w1") << tz;
        EXPECT_EQ(end_of("day", local(2106, 2, 7, 6, 28, 16), 0, 0, "8"), "2106-2-7 8:0:0 w0") << tz;
        EXPECT_EQ(end_of("month", local(2106, 2, 7, 6, 28, 16), 1), "2106-3-1 0:0:0 w1") << tz;
    }
}

TEST_F(PeriodTest, EndsKeepWallClockAcrossDaylightSavingChanges)
{
    use_tz(CET);
    // Summer time starts on Sunday 30 March 2025.
    EXPECT_EQ(end_of("month", local(2025, 3, 15, 12), 1), "2025-4-1 0:0:0 w2");
    EXPECT_EQ(end_of("day", local(2025, 3, 29, 9), 0, 0, "8"), "2025-3-30 8:0:0 w0");
    // Summer time ends on Sunday 26 October 2025; half an hour after midnight on
    // Wednesday, five times 86 400 seconds would fall on Sunday evening.
    EXPECT_EQ(end_of("week", local(2025, 10, 22, 0, 30), 0, 1), "2025-10-27 0:0:0 w1");
    EXPECT_EQ(end_of("month", local(2025, 10, 1, 12), 1), "2025-11-1 0:0:0 w6");
}

TEST_F(PeriodTest, BadHourAndUnknownPeriodComputeNothing)
{
    TrafficSettings s = {};
    long long end = 0;
    snprintf(s.period, sizeof s.period, "day");
    snprintf(s.start_hour, sizeof s.start_hour, "-1");
    EXPECT_EQ(next_period_end(s, local(2025, 5, 6), &end), PeriodEnd::BadHour);
    snprintf(s.period, sizeof s.period, "year");
    EXPECT_EQ(next_period_end(s, local(2025, 5, 6), &end), PeriodEnd::Unknown);
    s.period[0] = '\0';
    EXPECT_EQ(next_period_end(s, local(2025, 5, 6), &end), PeriodEnd::Unknown);
}

// check_time_up against a sandbox, so its option writes reach the uci stand-in.
class TimeUpTest : public PeriodTest {
protected:
    void SetUp() override
    {
        PeriodTest::SetUp();
        setenv("ROUTER_ROOT", box.root().c_str(), 1);
        setenv("PATH", box.env_path().substr(strlen("PATH=")).c_str(), 1);
        box.uci_package("moskar", "config traffic 'traffic'\n\toption used '123'\n");
        box.write("/etc/forcecellup", "1\n");
        memset(&state, 0, sizeof state);
        select_instance(state, nullptr);
        state.shut_down = 1;
        state.settings.used = 123;
        state.settings.alarmsent = 80;
    }
    void TearDown() override
    {
        unsetenv("ROUTER_ROOT");
        PeriodTest::TearDown();
    }
    Sandbox box;
    TrafficState state;
};

TEST_F(TimeUpTest, PassedEndStartsNewPeriod)
{
    snprintf(state.settings.period, sizeof state.settings.period, "month");
    state.settings.start_month = 1;
    state.settings.endtime = static_cast<int>(local(2025, 2, 1));
    check_time_up(state, local(2025, 1, 31, 23, 59, 59));
    EXPECT_EQ(state.settings.used, 123);

    check_time_up(state, local(2025, 2, 1, 0, 0, 2));
    EXPECT_EQ(state.settings.used, 0);
    EXPECT_EQ(state.settings.endtime, local(2025, 3, 1));
    EXPECT_EQ(state.settings.alarmsent, 0);
    EXPECT_EQ(state.shut_down, 0);
    EXPECT_FALSE(box.exists("/etc/forcecellup"));
    if (box.exists("/stubbin/uci") && access(sim_bin_path("uci").c_str(), X_OK) == 0) {
        // The period change asked for a commit of its own.
        EXPECT_TRUE(state.commit_now);
        flush_writes(state);
        EXPECT_EQ(box.uci_get("moskar.traffic.rendtime"), "2025-3-1 0:0:0 w6");
        EXPECT_EQ(box.uci_get("moskar.traffic.endtime"), std::to_string(local(2025, 3, 1)));
        EXPECT_EQ(box.uci_get("moskar.traffic.alarmsent"), "0");
        EXPECT_EQ(box.uci_get("moskar.traffic.force_shutdown"), "0");
    }
}

TEST_F(TimeUpTest, EndIn2106IsWrittenWhole)
{
    snprintf(state.settings.period, sizeof state.settings.period, "month");
    state.settings.start_month = 1;
    state.settings.endtime = local(2106, 2, 1);
    check_time_up(state, local(2106, 2, 7, 6, 28, 16));
    EXPECT_EQ(state.settings.endtime, local(2106, 3, 1));
    EXPECT_GT(state.settings.endtime, 4294967296LL);
    if (box.exists("/stubbin/uci") && access(sim_bin_path("uci").c_str(), X_OK) == 0) {
        flush_writes(state);
        EXPECT_EQ(box.uci_get("moskar.traffic.endtime"), std::to_string(local(2106, 3, 1)));
        EXPECT_EQ(box.uci_get("moskar.traffic.rendtime"), "2106-3-1 0:0:0 w1");
    }
}

// An end from a clock that ran years ahead comes back to the clock's period;
// one a changed setting would give stays, to be passed as usual.
TEST_F(TimeUpTest, FarEndMovesBackAndNearOneStays)
{
    TrafficSettings& s = state.settings;
    snprintf(s.period, sizeof s.period, "month");
    s.start_month = 1;
    s.endtime = local(2040, 7, 1);
    bring_end_back(state, local(2025, 6, 10), true);
    EXPECT_EQ(s.endtime, local(2025, 7, 1));
    EXPECT_EQ(s.used, 123);
    s.endtime = local(2025, 7, 15);
    bring_end_back(state, local(2025, 6, 10), true);
    EXPECT_EQ(s.endtime, local(2025, 7, 15));
    bring_end_back(state, local(2025, 6, 10), false);
    EXPECT_EQ(s.endtime, local(2025, 7, 1));
}

TEST_F(TimeUpTest, BadHourChangesNothing)
{
    snprintf(state.settings.period, sizeof state.settings.period, "day");
    snprintf(state.settings.start_hour, sizeof state.settings.start_hour, "-1");
    check_time_up(state, local(2025, 2, 1));
    EXPECT_EQ(state.settings.used, 123);
    EXPECT_EQ(state.settings.alarmsent, 80);
    EXPECT_EQ(state.shut_down, 1);
    EXPECT_TRUE(box.exists("/etc/forcecellup"));
}

TEST_F(TimeUpTest, EmptyPeriodKeepsUsedAndResetsOnlyWhenUsedIsZero)
{
    check_time_up(state, local(2025, 2, 1));
    EXPECT_EQ(state.settings.used, 123);
    EXPECT_EQ(state.settings.alarmsent, 80);
    EXPECT_TRUE(box.exists("/etc/forcecellup"));

    state.settings.used = 0;
    check_time_up(state, local(2025, 2, 1));
    EXPECT_EQ(state.settings.alarmsent, 0);
    EXPECT_EQ(state.shut_down, 0);
    EXPECT_FALSE(box.exists("/etc/forcecellup"));
}

} // namespace
